#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <utility>

namespace corvex {

// One button of a CustomAlertView: its title, its kind and the block to run when it is
// chosen. Every kind looks alike on screen; the kind decides only which button an alert
// dismissed without a choice stands for (the first cancel button, else the first one).
class CAVButton
{
public:
    using Block = std::function<void()>;

    // The kinds callers use.
    static constexpr quint64 NormalType = 1;      // close, save, do not save, accept
    static constexpr quint64 DestructiveType = 2; // delete
    static constexpr quint64 CancelType = 3;

    CAVButton(QString title, quint64 buttonType, Block block)
        : mTitle(std::move(title)), mButtonType(buttonType), mBlock(std::move(block))
    {}

    const QString& title() const { return mTitle; }
    void setTitle(const QString& title) { mTitle = title; }
    quint64 buttonType() const { return mButtonType; }
    void setButtonType(quint64 type) { mButtonType = type; }
    // May be empty.
    const Block& block() const { return mBlock; }
    void setBlock(Block block) { mBlock = std::move(block); }

private:
    QString mTitle;
    quint64 mButtonType;
    Block mBlock;
};

} // namespace corvex
