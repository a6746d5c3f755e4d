#pragma once

#include <QByteArray>
#include <QString>

class MessageLog;

// The files of one download, each saved as soon as its data is complete, and what became of
// them.
class DownloadFiles {
public:
    explicit DownloadFiles(MessageLog& log) : log_(log) {}

    // Saves a card's data under the name its data gives, or the unit's under the name built
    // from its overview with the prefix of the download's kind; without data it only logs where
    // the file would have gone. Returns the name used.
    QString save(bool card, const QString& builtName, const QString& kind, const QByteArray& data);

    // A download of which any file was lost has failed, even when another file was saved.
    bool lost() const { return lost_; }
    QString finalStatus() const;

private:
    MessageLog& log_;
    bool vuData_ = false;
    bool cardData_ = false;
    bool lost_ = false;
};
