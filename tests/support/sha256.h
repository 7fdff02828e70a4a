// SHA-256 of test outputs, so stored expectations can be compared with
// sha256sum run by hand on the same files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Lower-case hex of the whole digest.
std::string Sha256Hex(const uint8_t* data, size_t size);
