#pragma once

#include <QString>

// What the engine asks of its window; the window is a thin view over the engine.
class EngineView {
public:
    virtual ~EngineView() = default;
    virtual void setShown(bool shown) = 0;
    virtual void placeAt(qint32 topTwips, qint32 leftTwips) = 0;
    virtual void setRevision(const QString& text) = 0;
    // Closes every window of the engine.
    virtual void closeAll() = 0;
};
