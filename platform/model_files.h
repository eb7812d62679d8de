// The file access of the OBJ/MTL reader (scene/obj_loader.cpp): whole files read into memory,
// and the checks that a name a model gives for another file stays inside the model's folder.
// The reader only parses; everything that asks the system about files is here. Every name is in
// this system's notation already (NativePath), except the text IsContainedName looks at.
#pragma once

#include <cstddef>
#include <string>

namespace krvplat {

// Which file a name reaches: the same for every spelling of the name and every link to the
// file, so that a model naming one file many ways has it read once.
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

// How ReadWholeFile ended. The reader reports "not opened" differently from the rest.
enum ReadFileStatus {
    kReadFileOk,
    kReadFileNotOpened,  // missing, not a regular file, or the open failed
    kReadFileTooLarge,   // larger than the limit; nothing was read
    kReadFileFailed,     // no memory for it, or a read error
};

// Reads the regular file `native` whole. On kReadFileOk buffer receives a new[] array of
// length + 1 bytes, the file followed by a 0, and identity the file that was opened; on any
// other status buffer, length and identity are left as they were.
//
// The open does not block, so a FIFO or device put under the name cannot stall it, and what
// is opened is checked to be a regular file before a byte is read. With followLinks false a
// link as the last component is not opened: the caller resolved the name itself and reads the
// file it checked. A file that shrinks while it is read yields what is there.
ReadFileStatus ReadWholeFile(const std::string& native, bool followLinks, size_t maxBytes,
                             char*& buffer, size_t& length, FileIdentity& identity);

// True when the regular file `native` (links followed) exists, with its identity. False for a
// missing name and for anything that is not a regular file.
bool RegularFileIdentity(const std::string& native, FileIdentity& identity);

// A name read from a model file must stay inside the model's folder by its text: no absolute
// path, no drive letter, no ".." component (in either separator notation, since names come in
// the program's notation as well as this system's).
bool IsContainedName(const char* name);

// A model's folder, with every link in its path resolved once, against which names are then
// checked: a name may reach into subfolders, and through links that stay inside, but no
// further.
class ContainedFolder {
public:
    // `native` is the folder ("" for the current one). A folder that cannot be resolved holds
    // nothing: every name is then outside.
    explicit ContainedFolder(const std::string& native);

    enum Place { kInside, kOutside, kMissing };
    // Where native lies once every link is followed; real receives the resolved path. A name
    // that does not exist is kMissing; one that cannot be resolved otherwise (a loop of links,
    // a name too long) counts as outside.
    Place Locate(const std::string& native, std::string& real) const;

private:
    std::string folder_;  // resolved; empty if the folder could not be
};

}  // namespace krvplat
