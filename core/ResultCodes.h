#pragma once

// The core reports failures as the ids of the string-table entries that
// describe them; 0 is success. Plain #defines, so that the resource script
// can include this file for its string table.

#define IDS_SIZE_MISMATCH       104
#define IDS_TOO_MANY_FILES      105
#define IDS_UNSUPPORTED_FORMAT  106
#define IDS_NOT_BITMAP          107
#define IDS_DROP_TWO_FILES      108
#define IDS_CANNOT_READ         109
#define IDS_IMAGE_TOO_LARGE     110
#define IDS_OUT_OF_MEMORY       111
