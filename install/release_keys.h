#pragma once
// The publisher's public keys built into the installer (the build option
// LANTERNBROOK_RELEASE_PUBLIC_KEY): the text of each public key file, as
// lanternbrook-release keygen wrote it. None when the installer is built
// without the option; it then asks for no signature at all.
//
// The definition is generated at configure time (cmake/release_keys.cmake)
// into a source file of its own. A program that links its own definition
// (the test build's signed installer) keeps that file out of the link.
#include <span>
#include <string_view>

std::span<const std::string_view> BuiltInReleaseKeyFiles();
