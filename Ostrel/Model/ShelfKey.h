#pragma once

namespace ostrel {

// The keys the open shelf and the preview panel act on.
enum class ShelfKey { space, escape, left, right, up, down };

} // namespace ostrel
