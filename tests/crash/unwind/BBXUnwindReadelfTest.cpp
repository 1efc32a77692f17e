// Our rule machine against binutils' own interpretation of the call-frame information:
// for every row `readelf --debug-dump=frames-interp` prints for libc, libstdc++, QtCore and
// this test program, the CFA and the rules of rbx, rbp, r12-r15 and the return address
// agree; and every FDE runs to its end without an opcode we refuse. The libraries are the
// ones this process has loaded, read in place at their load addresses. The g++ tree
// compares every FDE (two seconds); under the sanitizers, where that takes thirteen, every
// seventh.

#include "crash/unwind/BBXDwarfCFI.h"
#include "tests/crash/unwind/UnwindTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <unistd.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct ReadelfImage
{
    std::string path;
    std::uint64_t slide = 0;
    std::uint64_t ehFrame = 0;
};

ReadelfImage readelfFindImage(const char* nameEnd)
{
    struct Search
    {
        const char* nameEnd;
        ReadelfImage found;
    } search{nameEnd, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const std::string wanted = s->nameEnd;
            const bool match =
                wanted.empty() ? name.empty()
                               : name.size() >= wanted.size() &&
                                     name.compare(name.size() - wanted.size(), wanted.size(), wanted) == 0;
            if (!match || !s->found.path.empty())
                return 0;
            BBXBinaryImageDetails details;
            if (!BBXBinaryImageFillInSections(&details, info))
                return 0;
            s->found.path = name;
            if (wanted.empty()) {
                // Our own path: "/proc/self/exe" would name readelf in its process.
                char path[4096] = {};
                const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
                s->found.path = length > 0 ? std::string(path, std::size_t(length)) : std::string();
            }
            s->found.slide = details.slide;
            s->found.ehFrame = details.node.ehFrame;
            return 1;
        },
        &search);
    return search.found;
}

std::string readelfRegisterName(std::uint64_t number)
{
    static const char* const names[] = {"rax", "rdx", "rcx", "rbx", "rsi", "rdi", "rbp", "rsp", "r8",
                                        "r9",  "r10", "r11", "r12", "r13", "r14", "r15", "ra"};
    return number < 17 ? names[number] : "?";
}

std::string readelfSigned(std::int64_t value)
{
    return (value < 0 ? "-" : "+") + std::to_string(value < 0 ? -value : value);
}

std::string readelfRuleText(const BBXDwarfRule& rule)
{
    switch (rule.kind) {
    case BBXDwarfRuleKind::Unchanged:
    case BBXDwarfRuleKind::Undefined:
        return "u";
    case BBXDwarfRuleKind::SavedAtCFAOffset:
        return "c" + readelfSigned(std::int64_t(rule.value));
    case BBXDwarfRuleKind::ValueCFAOffset:
        return "v" + readelfSigned(std::int64_t(rule.value));
    case BBXDwarfRuleKind::InRegister:
        return "r" + std::to_string(rule.value);
    case BBXDwarfRuleKind::AtExpression:
        return "exp";
    case BBXDwarfRuleKind::ValueOfExpression:
        return "vexp";
    }
    return "?";
}

std::string readelfCFAText(const BBXDwarfRegisterState& state)
{
    if (state.cfaExpression != 0)
        return "exp";
    return readelfRegisterName(state.cfaRegister) + readelfSigned(state.cfaOffset);
}

std::vector<std::string_view> readelfFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start) {
            // "r3 (rbx)": a register rule names the register twice; the number is enough.
            if (line[start] != '(')
                fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

struct ReadelfTally
{
    std::size_t fdes = 0;
    std::size_t rows = 0;
    std::size_t failures = 0;
};

void compareWithReadelf(const char* nameEnd, std::size_t stride, ReadelfTally* tally)
{
    const ReadelfImage image = readelfFindImage(nameEnd);
    ASSERT_FALSE(image.path.empty()) << nameEnd << " is not loaded";
    ASSERT_NE(image.ehFrame, 0u);
    QProcess process;
    process.start("readelf", {"--debug-dump=frames-interp", QString::fromStdString(image.path)});
    ASSERT_TRUE(process.waitForFinished(120000));
    const QByteArray output = process.readAllStandardOutput();
    ASSERT_FALSE(output.isEmpty());

    const std::string_view text(output.constData(), std::size_t(output.size()));
    const BBXUnwindMemory* memory = BBXUnwindLiveMemory();
    BBXDwarfFDERecord record;
    bool inFDE = false;
    bool comparing = false;
    std::size_t fdeIndex = 0;
    std::vector<std::string_view> columns;
    std::uint64_t pcEnd = 0;
    const auto report = [&](const std::string& what) {
        if (++tally->failures <= 20)
            ADD_FAILURE() << nameEnd << ": " << what;
    };
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(position, end - position);
        position = end + 1;
        if (line.size() > 9 && line.find(" FDE cie=") != std::string_view::npos) {
            inFDE = true;
            comparing = fdeIndex++ % stride == 0;
            columns.clear();
            if (!comparing)
                continue;
            const std::uint64_t offset = std::stoull(std::string(line.substr(0, 8)), nullptr, 16);
            const std::size_t pcAt = line.find("pc=");
            const std::size_t dots = line.find("..", pcAt);
            const std::uint64_t pcBegin =
                std::stoull(std::string(line.substr(pcAt + 3, dots - pcAt - 3)), nullptr, 16);
            pcEnd = std::stoull(std::string(line.substr(dots + 2)), nullptr, 16) + image.slide;
            ++tally->fdes;
            if (!BBXDwarfParseFDEAtAddress(memory, &record, image.ehFrame + offset) ||
                record.fde.pcBegin != pcBegin + image.slide) {
                report("FDE at " + std::to_string(offset) + " does not parse to its range: begin " +
                       std::to_string(record.fde.pcBegin) + " slide " + std::to_string(image.slide) +
                       " eh_frame " + std::to_string(image.ehFrame));
                comparing = false;
                continue;
            }
            // The whole FDE runs without a refused opcode.
            BBXDwarfRuleMachine machine;
            if (pcEnd > record.fde.pcBegin &&
                !BBXDwarfComputeRulesForPC(memory, &record, pcEnd - 1, true, &machine))
                report("FDE at " + std::to_string(offset) + " fails to run");
            continue;
        }
        if (line.find(" CIE ") != std::string_view::npos && line.size() > 9 && line[8] == ' ') {
            inFDE = false;
            continue;
        }
        if (!inFDE || !comparing)
            continue;
        if (line.find("LOC") != std::string_view::npos && line.find("CFA") != std::string_view::npos) {
            columns = readelfFields(line);
            continue;
        }
        if (line.size() < 17 || line[16] != ' ' || columns.size() < 2)
            continue;
        const std::vector<std::string_view> fields = readelfFields(line);
        if (fields.size() != columns.size()) {
            report("row has " + std::to_string(fields.size()) + " fields: " + std::string(line));
            continue;
        }
        const std::uint64_t location = std::stoull(std::string(fields[0]), nullptr, 16) + image.slide;
        BBXDwarfRuleMachine machine;
        ++tally->rows;
        if (!BBXDwarfComputeRulesForPC(memory, &record, location, true, &machine)) {
            report("rules fail at " + std::string(fields[0]));
            continue;
        }
        if (readelfCFAText(machine.state) != fields[1])
            report("CFA at " + std::string(fields[0]) + ": " + readelfCFAText(machine.state) + " vs " +
                   std::string(fields[1]));
        for (const std::uint64_t reg : {3ull, 6ull, 12ull, 13ull, 14ull, 15ull, 16ull}) {
            const std::string name = readelfRegisterName(reg);
            std::string theirs = "u";
            for (std::size_t c = 2; c < columns.size(); ++c) {
                if (columns[c] == name)
                    theirs = std::string(fields[c]);
            }
            if (theirs == "s")
                theirs = "u"; // same value: no rule, as ours
            const std::string ours = readelfRuleText(machine.state.rules[reg]);
            if (ours != theirs)
                report(name + " at " + std::string(fields[0]) + ": " + ours + " vs " + theirs);
        }
    }
}

} // namespace

TEST(BBXUnwindReadelf, RulesAgreeWithReadelfForEveryRow)
{
    const auto stride = static_cast<std::size_t>(heavyScale(1, 7));
    for (const char* name : {"/libc.so.6", "/libstdc++.so.6", "/libQt6Core.so.6", ""}) {
        SCOPED_TRACE(*name != '\0' ? name : "the test program");
        ReadelfTally tally;
        compareWithReadelf(name, stride, &tally);
        EXPECT_EQ(tally.failures, 0u);
        EXPECT_GT(tally.fdes, 50u);
        EXPECT_GT(tally.rows, tally.fdes);
        RecordProperty(std::string("rows ") + (*name != '\0' ? name : "test program"), int(tally.rows));
    }
}
