"""An entry's name as the engine keeps it, for the reference listings: the
stored bytes, or the UTF-8 name of an Info-ZIP Unicode Path block (0x7075)
whose CRC-32 matches the stored bytes. Answers (bytes, is_utf8)."""
import struct
import zlib


def engine_name(info):
    stored = info.orig_filename.encode('utf-8' if info.flag_bits & 0x800 else 'cp437')
    extra, p = info.extra, 0
    while p + 4 <= len(extra):
        kind, size = struct.unpack('<HH', extra[p:p + 4])
        block = extra[p + 4:p + 4 + size]
        if kind == 0x7075 and len(block) >= 5 and block[0] == 1 and \
                struct.unpack('<I', block[1:5])[0] == zlib.crc32(stored):
            return block[5:], True
        p += 4 + size
    return stored, bool(info.flag_bits & 0x800)
