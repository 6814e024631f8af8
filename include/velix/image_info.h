// The module's image-information block, read by the host after it loads the
// module.  Its 96 bytes are an interface format: the fields below are laid
// out at exactly those offsets.
#pragma once

#include <cstdint>

struct ImageInfo {
    char key[24];            // "ZAV_Image_Information=", NUL-terminated, zero-padded
    unsigned char marker[4]; // 0xB0BDEBED, big-endian
    unsigned char value[4];  // the value 8, big-endian
    char version[6];         // "8.00", NUL-padded
    char release[20];        // product release identifier (16 characters), NUL-padded
    char buildDate[34];      // "May 14 2001", NUL-padded
    char tail[4];            // "001", NUL-terminated
};
static_assert(sizeof(ImageInfo) == 96, "the image-information block is 96 bytes");

extern const ImageInfo vi_mcn;
extern unsigned char mcn_pcns[8];
