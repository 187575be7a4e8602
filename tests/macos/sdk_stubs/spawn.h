// Stands in for Apple's <spawn.h> (with the flags of its <sys/spawn.h>) in
// the Linux type-check of platform/macos: opaque pointer types and the
// Darwin flags, as Apple's SDK declares them. glibc's header of that name has
// struct types and flags of other values, and lacks
// POSIX_SPAWN_CLOEXEC_DEFAULT. Every function here dates from macOS 10.5
// (addinherit_np 10.7), long before the deployment target, so the
// availability annotations are left out; so is __restrict, which Apple's
// <sys/cdefs.h> defines as nothing in C++.
#pragma once

// glibc's guard: should anything include glibc's header after this one, it
// adds nothing.
#define _SPAWN_H 1

#include <signal.h>
#include <sys/types.h>

// sys/spawn.h
#define POSIX_SPAWN_RESETIDS 0x0001
#define POSIX_SPAWN_SETPGROUP 0x0002
#define POSIX_SPAWN_SETSIGDEF 0x0004
#define POSIX_SPAWN_SETSIGMASK 0x0008
#define POSIX_SPAWN_SETEXEC 0x0040
#define POSIX_SPAWN_START_SUSPENDED 0x0080
#define POSIX_SPAWN_SETSID 0x0400
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000

#ifdef __cplusplus
extern "C" {
#endif

typedef void* posix_spawnattr_t;
typedef void* posix_spawn_file_actions_t;

int posix_spawn(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                char* const __argv[], char* const __envp[]);

int posix_spawn_file_actions_addclose(posix_spawn_file_actions_t*, int);
int posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t*, int, int);
int posix_spawn_file_actions_addopen(posix_spawn_file_actions_t*, int, const char*, int, mode_t);
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t*, int);
int posix_spawn_file_actions_destroy(posix_spawn_file_actions_t*);
int posix_spawn_file_actions_init(posix_spawn_file_actions_t*);

int posix_spawnattr_destroy(posix_spawnattr_t*);
int posix_spawnattr_init(posix_spawnattr_t*);
int posix_spawnattr_getflags(const posix_spawnattr_t*, short*);
int posix_spawnattr_setflags(posix_spawnattr_t*, short);
int posix_spawnattr_setsigdefault(posix_spawnattr_t*, const sigset_t*);
int posix_spawnattr_setsigmask(posix_spawnattr_t*, const sigset_t*);

#ifdef __cplusplus
}
#endif
