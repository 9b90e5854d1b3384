#pragma once

namespace ostrel::OpenSsl {

// Sets OpenSSL up for the process; the first line of every main (it also runs before main, from a
// static initialiser of this file, and a second call changes nothing). OpenSSL would otherwise
// register its own clean-up with atexit, and that clean-up assumes no other thread is alive: a
// queue thread still ending (Qt's wait() returns before a thread's exit handlers have run) then
// frees its OpenSSL state a second time. Without that clean-up, the process's exit frees nothing of
// OpenSSL's, and each thread that used it releases its own state as its last act.
void init();

// Releases the calling thread's OpenSSL state. The last thing a thread that hashed does; harmless
// on a thread that never used OpenSSL, and safe to repeat.
void releaseThread();

} // namespace ostrel::OpenSsl
