#pragma once
// Removing the staging folder at the end of a successful run. Worker thread.
#include <string>

// Deletes `folder` with everything in it, ignoring every error. Names are
// joined to their folder as text, never re-parsed: a name Wine or Windows
// would read as drive-relative ("C:x") stays inside `folder` instead of
// taking the removal elsewhere. Reparse points are removed, not followed.
void RemoveFolderTree(const std::wstring& folder) noexcept;
