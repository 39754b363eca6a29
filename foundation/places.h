#pragma once

#include <QString>

// Where the program keeps and finds its files.

// The demo database in the user's data folder.
QString demoDatabasePath();
// The hooks folder beside the executable (or installed with it).
QString defaultHooksDir();
// A folder for files the application writes without asking (printouts without a printer).
QString outputDir();
