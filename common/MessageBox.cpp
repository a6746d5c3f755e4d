#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace {
MessageBoxHandler& handler() {
    static MessageBoxHandler h;
    return h;
}

bool nonInteractive() {
    return qEnvironmentVariable("VANTREL_NONINTERACTIVE") == "1";
}

QString oneLine(QString text) {
    text.replace("\r\n", "\\n");
    text.replace('\n', "\\n");
    text.replace('\r', "\\n");
    return text;
}
} // namespace

void setMessageBoxHandler(MessageBoxHandler h) {
    handler() = std::move(h);
}

void showMessageBox(const QString& text, const QString& title) {
    if (handler()) {
        handler()(text, title);
        return;
    }
    // Without a widget application (or when told not to wait) there is nobody to click OK.
    if (nonInteractive() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        const QByteArray line = "MSGBOX\t" + title.toUtf8() + '\t' + oneLine(text).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.exec();
}
