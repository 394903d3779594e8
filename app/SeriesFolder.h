// Where a snapshot series goes: beside the program when a folder can be made there, otherwise
// in the user's pictures folder. Plain Qt Core, the same on every platform.
#pragma once

#include <QString>

// The folder under which a series' ddmmyy_hhmmss folder is made: ProgramFolder when a file can be
// created in it (or, while it does not exist, in its nearest existing parent), else the Ormelix
// folder in PicturesFolder. An empty PicturesFolder (none known) keeps ProgramFolder.
QString SeriesRoot(const QString& ProgramFolder, const QString& PicturesFolder);
