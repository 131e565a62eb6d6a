"""Writes the test images' pictures: a 16 x 16 icon, the splash bitmap and a PNG for raw data.

    make_images.py OUT_DIR
The splash is 320 x 200, one colour (SPLASH_RGB) inside a 4-pixel frame, so a screenshot shows
where it is and whether it is painted."""
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "pack"))
import pictures  # noqa: E402  (shared with the packer's tests)

SPLASH_RGB = (0x20, 0xA0, 0xE0)
FRAME_RGB = (0xF0, 0x40, 0x10)
WIDTH, HEIGHT, FRAME = 320, 200, 4


def bitmap_rows(width, height, pixel):
    """Bottom-up 24-bit rows, each padded to 4 bytes."""
    pad = b"\0" * ((4 - width * 3 % 4) % 4)
    rows = []
    for y in range(height - 1, -1, -1):
        row = b"".join(bytes(reversed(pixel(x, y))) for x in range(width))
        rows.append(row + pad)
    return b"".join(rows)


def splash_bmp():
    def pixel(x, y):
        edge = x < FRAME or y < FRAME or x >= WIDTH - FRAME or y >= HEIGHT - FRAME
        return FRAME_RGB if edge else SPLASH_RGB
    pixels = bitmap_rows(WIDTH, HEIGHT, pixel)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def icon_ico():
    size = 16
    xor = b"".join(struct.pack("<BBBB", 0x10, 0x80, 0x20, 0xFF) for _ in range(size * size))
    mask = b"\0" * (4 * size)  # 32-bit rows of the AND mask, all opaque
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22)
    return directory + image


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "splash.bmp").write_bytes(splash_bmp())
    (out / "tray.ico").write_bytes(icon_ico())
    # The splash's colour: what the runtime's splash library gets from memory.
    (out / "splash.png").write_bytes(pictures.png(64, 40, SPLASH_RGB))


if __name__ == "__main__":
    main()
