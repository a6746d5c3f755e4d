#pragma once

#include <QString>

// The two shell folders the programs ask for, by their historical ids.
enum SpecialFolderId {
    CSIDL_PERSONAL = 5,        // the user's documents folder
    CSIDL_COMMON_APPDATA = 35, // where the data folder lives
};

// Path of a special folder ("/" separated, no trailing "/"), empty when unknown.
QString GetSpecialFolder(int folderId);

// The data folder of both programs: settings, log, status, Latest VU file, archive.
QString DataFolderPath();

// Creates every missing level of path. Levels that exist already (or cannot be
// folders because they exist as something else) are passed over; any other failure
// stops the walk, returns false and leaves the reason in *error.
bool MakeFolderPath(const QString& path, QString* error = nullptr);

// The engine holds a lock on this file in the data folder while it runs, so that one engine
// at a time uses the folder's log and status file.
inline const QString kEngineLockName = QStringLiteral("VNPCBase.lock");

// Whether an engine (this user's window, a headless download) holds the data folder now.
bool EngineHoldsDataFolder(const QString& dataFolder);
