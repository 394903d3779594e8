// Where a snapshot series goes: beside the program when that folder is the user's to write,
// otherwise in the user's pictures folder, otherwise in the home folder. Plain Qt Core, the same
// on every platform.
#pragma once

#include <QString>

// The folder under which a series' ddmmyy_hhmmss folder is made, the first of these that is
// known and can be written: ProgramFolder, unless it is a system folder; the Ormelix folder in
// PicturesFolder; the Ormelix folder in HomeFolder. "Can be written" means a file can be created
// in the folder (or, while it does not exist, in its nearest existing parent). When none can be,
// the first of them known; a caller that knows neither a pictures nor a home folder (empty for
// none) keeps ProgramFolder, whatever it is.
QString SeriesRoot(const QString& ProgramFolder, const QString& PicturesFolder,
                   const QString& HomeFolder);

// True for a folder of the installed system (programs, libraries, settings: /usr, /bin, /opt, …;
// on Windows the program and system folders), which is never written beside a program, even by
// a user whose rights would allow it.
bool IsSystemFolder(const QString& Folder);

// The user's pictures folder as the desktop names it (on Linux the XDG user-dirs setting). A
// setting that is not an absolute path (empty or relative) is ignored for Pictures in the home
// folder, the place used when nothing is set. Empty when no absolute place is known.
QString UserPicturesFolder();

// The user's home folder; empty when it is not known as an absolute path.
QString UserHomeFolder();
