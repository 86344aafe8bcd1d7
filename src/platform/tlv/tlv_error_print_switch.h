// Switch for our TLV library's error print: fuzz targets and tools that
// report failures their own way turn the "%s: ERR 0x%x" lines off.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/** Enables (nonzero, the default) or silences (0) tlvu_error_print. */
void tlvu_set_error_print_enabled(int enabled);

#ifdef __cplusplus
}
#endif
