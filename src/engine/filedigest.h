#pragma once

#include <QString>

#include <atomic>
#include <optional>

struct FileIdentity;

// The SHA-256 digests that tie a JXL to the JPEG it came from, and where they are stored.
namespace FileDigest {

// Extended attribute of a JXL we wrote: the lower-case hex SHA-256 of the JPEG it came from.
inline constexpr char kAttribute[] = "user.pikora.sha256";

// Lower-case hex SHA-256 of a file, read in 1 MiB chunks. Blocking. Gives up (nothing, no
// error text) as soon as stop is set. identity, when given, receives what the opened file was
// before its first byte was read.
std::optional<QString> sha256(const QString &path, QString *errorText = nullptr, const std::atomic_bool *stop = nullptr,
                              FileIdentity *identity = nullptr);

// The source digest stored with a JXL, when there is a well-formed one.
std::optional<QString> stored(const QString &jxlPath);

} // namespace FileDigest
