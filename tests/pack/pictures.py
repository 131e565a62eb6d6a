"""Small pictures and Windows image helpers for the packer's tests, written from the file formats
(not with the packer's code): .ico, .bmp, PNG, and a PE header reader."""
import struct
import zlib


def bitmap_info(width, height, bits=32, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 0, 0, colours, 0)


def pixels(width, height, bits=32):
    stride = (width * bits + 31) // 32 * 4
    return bytes((x * 7 + y) & 0xFF for y in range(height) for x in range(stride))


def icon_picture(size):
    """A 32-bit picture as icons store it: the header's height doubled, colours, AND mask."""
    mask = bytes((size + 31) // 32 * 4 * size)
    return bitmap_info(size, size * 2) + pixels(size, size) + mask


def png(width, height, rgb=None):
    """An RGB PNG: one colour when rgb is given, else a gradient."""
    # Compressed row by row: a one-colour picture of 20000 x 20000 never exists uncompressed.
    packer = zlib.compressobj()
    if rgb is not None:
        row = b"\0" + bytes(rgb) * width
        rows = b"".join(packer.compress(row) for _ in range(height))
    else:
        rows = b"".join(packer.compress(b"\0" + b"".join(bytes([x & 255, y & 255, 9]) for x in range(width)))
                        for y in range(height))
    rows += packer.flush()

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", rows) + chunk(b"IEND", b""))


def ico(pictures):
    """pictures: (size, bytes) pairs; the directory, then the pictures in order."""
    out = struct.pack("<HHH", 0, 1, len(pictures))
    offset = 6 + 16 * len(pictures)
    body = b""
    for size, data in pictures:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return out + body


def bmp(width, height, bits=24, gap=b""):
    """A bottom-up uncompressed bitmap file; gap: bytes between the header and the pixels."""
    info = bitmap_info(width, height, bits)
    data = pixels(width, height, bits)
    start = 14 + len(info) + len(gap)
    return b"BM" + struct.pack("<IHHI", start + len(data), 0, 0, start) + info + gap + data


class Pe:
    """The headers of a PE image: sections and data directories, as the format defines them."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        count, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        self.optional = pe + 24
        magic, = struct.unpack_from("<H", data, self.optional)
        self.directories = self.optional + (112 if magic == 0x20B else 96)
        self.checksum_offset = self.optional + 64
        self.checksum, = struct.unpack_from("<I", data, self.checksum_offset)
        self.section_alignment, = struct.unpack_from("<I", data, self.optional + 32)
        self.size_of_image, = struct.unpack_from("<I", data, self.optional + 56)
        table = self.optional + optional_size
        self.sections = []
        for i in range(count):
            name, vsize, va, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append(dict(name=name.rstrip(b"\0").decode(), vsize=vsize, va=va,
                                      raw_size=raw_size, raw_ptr=raw_ptr))

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def section(self, name):
        return next(s for s in self.sections if s["name"] == name)

    def raw(self, name):
        s = self.section(name)
        return self.data[s["raw_ptr"]:s["raw_ptr"] + min(s["vsize"], s["raw_size"])]


def pe_checksum(data, checksum_offset):
    """The checksum as the system computes it: 16-bit words with end-around carry, the checksum
    field counted as zero, an odd last byte as a word of its own, plus the file's length."""
    size = len(data)
    data = data[:checksum_offset] + bytes(4) + data[checksum_offset + 4:] + bytes(size % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (((total & 0xFFFF) + (total >> 16)) & 0xFFFF) + size
