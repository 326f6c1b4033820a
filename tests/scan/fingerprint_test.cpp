#include "scan/file_fingerprint.h"

#include <gtest/gtest.h>

TEST(Fingerprint, Placeholder) {}
