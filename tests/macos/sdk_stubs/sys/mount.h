// Stands in for Apple's <sys/mount.h> in the Linux type-check of
// platform/macos: statfs with the 64-bit inode layout and the mount flags
// Quillmark reads, as Apple's SDK declares them. Linux's own header of that
// name is about mount(2) and has none of them.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MFSTYPENAMELEN 16
#ifndef MAXPATHLEN
#define MAXPATHLEN 1024
#endif

// Apple calls this type fsid_t; glibc's <sys/types.h> has its own fsid_t.
typedef struct fsid {
  int32_t val[2];
} qm_apple_fsid_t;

struct statfs {
  uint32_t f_bsize;
  int32_t f_iosize;
  uint64_t f_blocks;
  uint64_t f_bfree;
  uint64_t f_bavail;
  uint64_t f_files;
  uint64_t f_ffree;
  qm_apple_fsid_t f_fsid;
  uid_t f_owner;
  uint32_t f_type;
  uint32_t f_flags;
  uint32_t f_fssubtype;
  char f_fstypename[MFSTYPENAMELEN];
  char f_mntonname[MAXPATHLEN];
  char f_mntfromname[MAXPATHLEN];
  uint32_t f_flags_ext;
  uint32_t f_reserved[7];
};

#define MNT_RDONLY 0x00000001
#define MNT_REMOVABLE 0x00000200
#define MNT_LOCAL 0x00001000

int statfs(const char* path, struct statfs* buf);

#ifdef __cplusplus
}
#endif
