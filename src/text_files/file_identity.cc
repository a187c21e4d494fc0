#include "text_files/file_identity.h"

#include <sys/stat.h>

FileIdentity identity_of_descriptor(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

bool names_file(const char* name, const FileIdentity& other) {
  struct stat st;
  if (!other.known || stat(name, &st) != 0) return false;
  return st.st_dev == other.device && st.st_ino == other.inode;
}
