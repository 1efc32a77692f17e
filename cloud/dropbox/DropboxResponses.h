#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvex {

// The answers of the Dropbox client (QVDropboxClient): small immutable records with a result
// code, and their log descriptions.
namespace DropboxResult {
constexpr std::uint64_t Done = 0;
constexpr std::uint64_t NotFound = 1;
constexpr std::uint64_t Conflict = 2;
constexpr std::uint64_t Failed = 3;
} // namespace DropboxResult

// A listed file: its lower-case path, its revision and its content hash (empty when the
// listing gave none).
struct FileMetadata
{
    QString path;
    QString rev;
    QString contentHash;
    QString description() const;
    friend bool operator==(const FileMetadata&, const FileMetadata&) = default;
};

struct ListFolderResponse
{
    std::uint64_t result = DropboxResult::Failed;
    std::optional<std::vector<FileMetadata>> entries; // only with result 0
    QString description() const;
};

struct EnsureFolderResponse
{
    std::uint64_t result = DropboxResult::Failed;
    QString description() const;
};

struct UploadResponse
{
    std::uint64_t result = DropboxResult::Failed;
    std::optional<QString> rev;
    QString description() const;
};

// A failed download says why when the service answered: a folder stands at the path (409
// not_file), or a 2xx came whose body does not match its metadata's size and content hash.
struct DownloadResponse
{
    std::uint64_t result = DropboxResult::Failed;
    std::optional<QString> rev;
    bool folderAtPath = false;
    bool damaged = false;
    QString description() const;
};

struct DeleteResponse
{
    std::uint64_t result = DropboxResult::Failed;
    QString description() const;
};

// Whether the question could be answered, and the file's revision (none: no such file).
struct PeekFileResponse
{
    bool success = false;
    std::optional<QString> rev;
    QString description() const;
};

} // namespace corvex
