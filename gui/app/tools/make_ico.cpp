/*
 * zv-make-ico OUT.ico IMAGE.png...: writes a Windows icon file that holds
 * the given PNG images, one directory entry each (the PNG-compressed form
 * of the ICO format). The build uses it for the window icon, so that the
 * icon needs no image tool beyond the SVG renderer.
 */
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
const size_t kIcoHeaderLen = 6;
const size_t kIcoEntryLen = 16;

void put_le16(std::vector<unsigned char> &v_out, uint16_t v_value)
{
    v_out.push_back(static_cast<unsigned char>(v_value & 0xff));
    v_out.push_back(static_cast<unsigned char>(v_value >> 8));
}

void put_le32(std::vector<unsigned char> &v_out, uint32_t v_value)
{
    for (int i = 0; i < 4; i++)
        v_out.push_back(static_cast<unsigned char>((v_value >> (8 * i)) & 0xff));
}

uint32_t get_be32(const std::vector<unsigned char> &v_in, size_t v_at)
{
    return (uint32_t(v_in[v_at]) << 24) | (uint32_t(v_in[v_at + 1]) << 16) | (uint32_t(v_in[v_at + 2]) << 8) |
           uint32_t(v_in[v_at + 3]);
}

struct Image {
    std::string path;
    std::vector<unsigned char> bytes;
    uint32_t width;
    uint32_t height;
};

/* Reads a PNG and its size from the IHDR chunk; false when it is none. */
bool read_png(const std::string &v_path, Image &v_image)
{
    std::ifstream in(v_path, std::ios::binary);
    if (!in)
        return false;
    v_image.path = v_path;
    v_image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    /* signature, IHDR length and type, then width and height */
    if (v_image.bytes.size() < 24)
        return false;
    for (size_t i = 0; i < sizeof(kPngSignature); i++)
        if (v_image.bytes[i] != kPngSignature[i])
            return false;
    v_image.width = get_be32(v_image.bytes, 16);
    v_image.height = get_be32(v_image.bytes, 20);
    return v_image.width >= 1 && v_image.width <= 256 && v_image.height >= 1 && v_image.height <= 256;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: zv-make-ico OUT.ico IMAGE.png...\n");
        return 2;
    }
    std::vector<Image> images;
    for (int i = 2; i < argc; i++) {
        Image image;
        if (!read_png(argv[i], image)) {
            fprintf(stderr, "zv-make-ico: %s is not a PNG image of at most 256 x 256\n", argv[i]);
            return 1;
        }
        images.push_back(image);
    }

    std::vector<unsigned char> out;
    put_le16(out, 0); /* reserved */
    put_le16(out, 1); /* type: icon */
    put_le16(out, static_cast<uint16_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(kIcoHeaderLen + kIcoEntryLen * images.size());
    for (const Image &image : images) {
        /* 0 stands for 256 */
        out.push_back(static_cast<unsigned char>(image.width & 0xff));
        out.push_back(static_cast<unsigned char>(image.height & 0xff));
        out.push_back(0); /* no palette */
        out.push_back(0); /* reserved */
        put_le16(out, 1);  /* colour planes */
        put_le16(out, 32); /* bits per pixel */
        put_le32(out, static_cast<uint32_t>(image.bytes.size()));
        put_le32(out, offset);
        offset += static_cast<uint32_t>(image.bytes.size());
    }
    for (const Image &image : images)
        out.insert(out.end(), image.bytes.begin(), image.bytes.end());

    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file) {
        fprintf(stderr, "zv-make-ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
