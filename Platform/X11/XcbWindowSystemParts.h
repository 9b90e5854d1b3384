#pragma once

// What the files of the xcb window system share; nothing outside them includes this.
//   XcbWindowSystem.cpp          the connection: setting up, reading events and sorting them out,
//                                the selections it watches, property reads
//   XcbWindowSystemQueries.cpp   what the server tells: monitors, client windows, the active
//                                window, the pointer, the compositor
//   XcbWindowSystemStacking.cpp  our own windows: kept above others, input shapes, focus handed
//                                back, frame extents
//   XcbWindowSystemKeys.cpp      key grabs, held keys and their repeats, key codes

#include <cstdlib>
#include <memory>

namespace ostrel::x11::xcbParts {

// Frees an xcb reply when it goes out of scope.
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

} // namespace ostrel::x11::xcbParts
