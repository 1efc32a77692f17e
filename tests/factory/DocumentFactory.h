#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex::test {

// A neutral idea tree for tests and benchmarks, independent of the document model: a flat
// vector whose index 0 is the root, children listed by index.
struct FactoryIdea
{
    QString identifier;
    QString text;
    QString note;                               // empty when the idea has none
    QString colorName;                          // empty when the idea has none
    QString iconName, iconCategory, iconSymbol; // empty when the idea has no icon
    QByteArray picture;                         // PNG bytes of a picture idea; empty for a text idea
    QString linkedIdentifier;                   // the target of a link idea (a leaf); empty for others
    std::vector<int> children;
    int parent = -1; // -1 for the root
};

// A tree of max(1, ideaCount) ideas with a fixed mix, the same for the same arguments:
// - every text is exactly 40 characters of varied words (some accented), drawn from `seed`;
// - every fifth idea (index % 5 == 0) has a 200-character note with one line break;
// - every idea has a colour, cycling through the colour table's green0..6, blue0..6, red0..6, violet0..6;
// - every third idea (index % 3 == 0) has an emoji icon from a small table;
// - identifiers are "id<index>_<seed>";
// - the tree fills breadth first with maxChildren children per idea (the last parent may
//   have fewer); maxChildren = 1 makes a chain as deep as the tree is large.
std::vector<FactoryIdea> makeDocumentTree(int ideaCount, int maxChildren = 8, quint32 seed = 1);

// A tree shaped like the maps people keep, of max(1, ideaCount) ideas, the same for the same
// arguments, filled breadth first as makeDocumentTree; each share rounded up, so that a small
// tree has one of each:
// - titles of 5 to 40 characters, each in one script: Latin (some accented), Cyrillic,
//   Greek, CJK (no spaces) or Arabic;
// - a note on one idea in 10 (index % 10 == 0), in the idea's script;
// - a 64 x 64 picture (makePicturePng) on one idea in 500, spread evenly after the root;
// - one link idea in 200: a leaf with no content of its own whose linkedIdentifier names
//   another idea of the tree, never a link (at most as many as there are leaves without a
//   note or a picture);
// - a colour on one idea in 4, an emoji icon on one in 20;
// - identifiers as the program makes them: "id<seconds>_<counter>".
std::vector<FactoryIdea> makeRealShapeTree(int ideaCount, int maxChildren = 8, quint32 seed = 1);

// The shapes benchmarks run on: makeDocumentTree's, makeRealShapeTree's and their variants (the
// numbers are the benchmarks' "real" argument).
enum class TreeShape
{
    Plain = 0,
    Real = 1,
    // makeRealShapeTree's tree with each link idea a plain idea carrying its target's text:
    // the yardstick of what the links cost.
    RealWithoutLinks = 2,
    // makeRealShapeTree's tree with its pictures on one idea in 56 (rounded up), each
    // 160 x 160 (makeSmallPicturePng), spread evenly after the root over the ideas that are not
    // links: a map kept with many pictures.
    PictureRich = 3,
    // PictureRich's tree without any picture: the yardstick of what the pictures cost.
    PictureRichWithoutPictures = 4,
};
std::vector<FactoryIdea> makeTree(TreeShape shape, int ideaCount, int maxChildren = 8, quint32 seed = 1);

// A picture of side x side pixels, the same for the same arguments: a soft gradient with a
// little grain, as an 8-bit RGB PNG with unfiltered rows deflated by zlib. These are not the
// bytes Qt's encoder writes for the pixels, so a picture written back byte for byte was not
// encoded again.
QByteArray makePicturePng(int side, quint32 seed);
// A picture idea's small picture: makePicturePng(160, seed) (about 16 KB).
QByteArray makeSmallPicturePng(quint32 seed);

// Gives `count` ideas of the tree a small picture each (makeSmallPicturePng), spread evenly
// over the ideas after the root; they become picture ideas. At most every idea but the root.
void addPictures(std::vector<FactoryIdea>& ideas, int count, quint32 seed = 1);

// The tree in the stored document's JSON shape, compact, keys in a fixed order:
// {"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{...},"dateCreated":...,
//  "dateModified":...,"appInstance":...}}. An idea object holds "identifier", "ideaType",
// "colorThemeType", "text", then "note", "color", "image" (Base64), "iconImage" and "ideas"
// only when set. "ideaType" is 2 for an idea with a picture, else 1. A link idea is written as
// the program writes one: "identifier", "ideaType" 4 and "linkedIdea", no children.
// Written without recursion: any depth works.
QByteArray makePayloadJson(const std::vector<FactoryIdea>& ideas);

} // namespace corvex::test
