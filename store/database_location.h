// Where the statistics live when no file is named: the rule that the desktop program and
// hitsieve-cli share, and the one folder they may create for it. Qt-free, so that both use it.
#ifndef HITSIEVE_STORE_DATABASE_LOCATION_H_
#define HITSIEVE_STORE_DATABASE_LOCATION_H_

#include <string>

namespace hitsieve {

// The statistics file to use without --db, as an absolute path: "dat1.dt" in the working folder
// when a file of that name is there (a folder of logs keeps its own statistics), otherwise
// "dat1.dt" in the user's data folder, $XDG_DATA_HOME/hitsieve ($HOME/.local/share/hitsieve when
// XDG_DATA_HOME is unset, empty or relative). Creates nothing. When neither a working folder
// nor a home is known, "dat1.dt" in the working folder as given.
std::string DefaultDatabaseFile();

// The user's data folder for the statistics ($XDG_DATA_HOME/hitsieve), or empty when no home
// folder is known.
std::string UserDataFolder();

// Whether `path` names the file in the user's data folder, the one database whose folder the
// programs may create: a file named by the user goes only into a folder that exists.
bool IsUserDataFile(const std::string& path);

// REQUIRES: IsUserDataFile(path). Creates the missing folders above `path`, readable by the
// user alone as the data folders of a home usually are. Throws std::runtime_error naming the
// folder that could not be made.
void MakeUserDataFolder(const std::string& path);

// The nearest folder above `path` that exists, for checking that the missing ones can be made.
std::string NearestExistingFolder(const std::string& path);

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_DATABASE_LOCATION_H_
