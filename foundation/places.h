#pragma once

#include <QString>

// Where the program keeps and finds its files.

// The demo database in the user's data folder.
QString demoDatabasePath();
// A folder of the program's own data (hooks, pic, translations): beside the
// executable, as in the build folder, or where the package puts it,
// share/allstats/ next to the bin/ folder of the executable. Empty when neither exists.
QString dataDir(const QString& name);
// The hooks folder beside the executable (or installed with it).
QString defaultHooksDir();
// The toolbar and window pictures, beside the executable or installed with it.
QString pictureDir();
// A folder for files the application writes without asking (printouts without a printer).
QString outputDir();
