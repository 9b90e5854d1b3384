#pragma once

#include <QByteArray>

#include <optional>

namespace ostrel::SafeSvg {

// An SVG drawing as the renderer may see it: a captured file can name any picture the user can
// read (`<image href="file:///…">`, a plain path, a path relative to the drawing) and have us read
// and show it. Every element that refers outside the drawing (a reference that is neither "#…"
// nor a "data:" address), with all it holds, is cut out; links (`<a>`) stay, since nothing
// follows them. A picture inside a "data:" address is decoded by whatever reader its content
// picks: it stays only when it is a well-formed raster picture, and only while the pictures
// together fit what ImageFormat allows a file of the drawing's size. The drawing comes back byte
// for byte when nothing is cut.
//
// Absent when the drawing cannot be checked, and so must not be drawn: compressed (the renderer
// would inflate what was never looked at), not well-formed, declaring an external entity, or
// with external references in an encoding other than UTF-8 that could not be cut out exactly.
std::optional<QByteArray> withoutExternalReferences(const QByteArray& svg);

} // namespace ostrel::SafeSvg
