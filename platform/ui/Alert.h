#pragma once

#include <QString>
#include <vector>

namespace corvex {

// What an alert shows: a message, an informative text and buttons in the order added (the
// first is the default button). An alert runner shows it and answers 1000 + the index of the
// pressed button.
struct Alert
{
    // The button kinds callers use. Every kind looks alike; the kind only decides what a
    // dismissal without a choice answers.
    enum ButtonType : int
    {
        NormalButton = 1,
        DestructiveButton = 2,
        CancelButton = 3,
    };

    struct Button
    {
        QString title;
        int type = NormalButton;
    };

    enum class Style
    {
        Warning, // the default
        Informational,
        Critical,
    };

    QString messageText;
    QString informativeText;
    std::vector<Button> buttons;
    Style style = Style::Warning;

    Alert& addButton(const QString& title, int type = NormalButton)
    {
        buttons.push_back(Button{title, type});
        return *this;
    }

    // The button a dismissal without a choice (Escape, the close box) stands for: the first
    // cancel-type button, else the first button, so that Escape never picks a destructive
    // choice over a cancel and a single-button alert still ends with its button. 0 for an
    // alert without buttons (the runner shows its default button then).
    int dismissalIndex() const;
};

} // namespace corvex
