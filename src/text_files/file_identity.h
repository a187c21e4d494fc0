#ifndef DEDUPE_TEXT_FILES_FILE_IDENTITY_H_
#define DEDUPE_TEXT_FILES_FILE_IDENTITY_H_

#include <sys/types.h>

// Which file an open descriptor or a name refers to, so that a run can refuse
// to truncate a file it is still reading or has just written (two names, one
// file: a hard or a symbolic link).
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};

FileIdentity identity_of_descriptor(int fd);

// True when `name` exists now and is the file `other` refers to.
bool names_file(const char* name, const FileIdentity& other);

#endif  // DEDUPE_TEXT_FILES_FILE_IDENTITY_H_
