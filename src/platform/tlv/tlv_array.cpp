// TLV arrays.
