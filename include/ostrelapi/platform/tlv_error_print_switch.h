// Switch for the error print of our TLV library (libostrel_tlvu), installed
// as <ostrelapi/platform/tlv_error_print_switch.h>. The codecs report a
// failed conversion through tlvu_error_print as "<operation>: ERR 0x<status>"
// lines on stderr; programs that report failures their own way (tools,
// tests, fuzz targets) turn them off. Only our TLV library has this switch:
// a platform's own TLV library prints, or not, as it does.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/** Enables (nonzero, the default) or silences (0) tlvu_error_print. */
void tlvu_set_error_print_enabled(int enabled);

#ifdef __cplusplus
}
#endif
