#pragma once

// The password digest of every user in the development server's seed data:
// the upper-case hexadecimal MD5 of "123456".
static constexpr char kSeedPasswordDigest[] = "E10ADC3949BA59ABBE56E057F20F883E";
