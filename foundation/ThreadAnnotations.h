// The annotations of a lock class, of a guard that holds one for a scope, of the fields a lock
// guards and of the functions that take, release or require one. Under clang they are its
// thread-safety attributes and -Wthread-safety reports a guarded field touched without its lock, a
// lock taken twice or not released, and a call to a function that requires a lock its caller does
// not hold (scripts/check-thread-safety runs that pass over every source). Other compilers see
// nothing.
#pragma once

//   IDX_GUARDED_BY(lock)     on a field: every reader and writer holds the lock
//                            ("int64_t m_llCount IDX_GUARDED_BY(m_lock);")
//   IDX_PT_GUARDED_BY(lock)  on a pointer field: what it points to is guarded by the lock
//   IDX_REQUIRES(lock)       on a function: its caller holds the lock
//   IDX_EXCLUDES(lock)       on a function: its caller does not hold the lock
//   IDX_ACQUIRE, IDX_RELEASE, IDX_TRY_ACQUIRE
//                            on a function that takes, releases or tries to take a lock
//   IDX_CAPABILITY(name)     on a lock class
//   IDX_SCOPED_CAPABILITY    on a guard that holds a lock for a scope
#if defined(__clang__)
#define IDX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define IDX_THREAD_ANNOTATION(x)
#endif
#define IDX_CAPABILITY(name) IDX_THREAD_ANNOTATION(capability(name))
#define IDX_SCOPED_CAPABILITY IDX_THREAD_ANNOTATION(scoped_lockable)
#define IDX_GUARDED_BY(lock) IDX_THREAD_ANNOTATION(guarded_by(lock))
#define IDX_PT_GUARDED_BY(lock) IDX_THREAD_ANNOTATION(pt_guarded_by(lock))
#define IDX_REQUIRES(...) IDX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define IDX_ACQUIRE(...) IDX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define IDX_RELEASE(...) IDX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define IDX_TRY_ACQUIRE(...) IDX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define IDX_EXCLUDES(...) IDX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
