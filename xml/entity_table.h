// The named character references: HTML 4.01's 252 plus "apos", stored under lower-case names in
// 130 buckets (sum of the name's units modulo 130). Read-only after first use; thread-safe.
#pragma once

#include <stdint.h>

#include <string_view>

namespace tovarek {

constexpr int kEntityBucketCount = 130;

// Code point of the entity `lowerName` (already lower-cased), 0 when unknown. HTML names that
// differ only in case (Eacute/eacute, Alpha/alpha, ...) share a lower-case name; the capital
// form's entry comes first and is taken when `capitalWritten`, the small form otherwise.
uint32_t LookupEntity(std::u16string_view lowerName, bool capitalWritten = true);

// Bucket i as stored: entries back to back, each '0' + name length, four decimal digits of the
// code point, the name.
std::u16string_view EntityBucket(int i);

}  // namespace tovarek
