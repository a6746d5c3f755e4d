#pragma once

#include <QString>
#include <functional>

inline const QString kProgramTitle = QStringLiteral("VantrelPC");

// Every message box of both programs goes through here: modal, one OK button, no icon.
// With VANTREL_NONINTERACTIVE=1 the box becomes one line on standard error
// ("MSGBOX", tab, title, tab, text with line breaks written as \n) and counts as answered.
void showMessageBox(const QString& text, const QString& title = kProgramTitle);

// Lets a test see the boxes instead; an empty handler restores the normal behaviour.
using MessageBoxHandler = std::function<void(const QString& text, const QString& title)>;
void setMessageBoxHandler(MessageBoxHandler handler);
