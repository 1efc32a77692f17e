#pragma once

#include "platform/ui/MenuRunner.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace corvex {

// A menu runner for tests: shows nothing and answers from a script. Each showing takes the
// next queued answer; with none queued the menu closes without a choice. Every showing is
// recorded (with the menu's items as they were then).
class ScriptedMenuRunner final : public MenuRunner
{
public:
    struct Record
    {
        Presentation presentation;
        QStringList titles; // the top-level item titles at that time, separators as "-"
    };

    // Queues choosing the top-level item at the index (none for an index out of range).
    void chooseIndex(int index);
    // Queues choosing the first item with this title, searched in the menu and then, depth
    // first, its submenus (none when no item has it).
    void chooseTitle(const QString& title);
    // Queues closing the menu without a choice (Escape, a click outside).
    void chooseNothing();

    const std::vector<Record>& presented() const { return mPresented; }
    int presentedCount() const { return int(mPresented.size()); }
    std::size_t pendingAnswers() const { return mAnswers.size(); }

protected:
    std::shared_ptr<MenuItem> choose(const Presentation& presentation) override;

private:
    struct Answer
    {
        enum class Kind
        {
            Index,
            Title,
            Nothing,
        };
        Kind kind = Kind::Nothing;
        int index = 0;
        QString title;
    };

    std::deque<Answer> mAnswers;
    std::vector<Record> mPresented;
};

} // namespace corvex
