// The rule that picks the data folder at start, and its application to this process.
#pragma once

#include <string>

#include "public/public_export.h"

struct DataFolderFacts {
    std::string requested;               // --data-dir; empty when not given
    std::string programFolder;           // ends in '/'
    bool programFolderWritable = false;  // a build tree or a portable copy
    bool installed = false;              // the program runs from an installed tree
    std::string xdgDataHome;             // $XDG_DATA_HOME; ignored unless absolute
    std::string home;                    // $HOME (or the account's home folder)
};

// The data folder, ending in '/': the requested folder when given; the program folder when it
// is writable and not an installed tree (an installed program's folder is a system folder
// even when root may write to it); else $XDG_DATA_HOME/vantrel, else ~/.local/share/vantrel.
// Empty when none applies (no usable home).
PUBLIC_EXPORT std::string ChooseDataFolder(const DataFolderFacts& facts);

struct DataFolderResult {
    std::string folder;  // ends in '/'; empty on error
    std::string error;   // why no folder could be used
};

// Gathers the facts for this process, applies ChooseDataFolder, makes the folder (and its
// parents) when missing and checks that it is a writable folder. Does not call SetDataPath.
PUBLIC_EXPORT DataFolderResult ResolveDataFolder(const std::string& requested);
