#include "PngCheck.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <png.h>
#include <string>
#include <vector>

namespace {

// libpng reports errors by longjmp; the frames it jumps over must hold only
// trivially destructible objects, so these two stages keep their state here.
struct TReadState
{
    const unsigned char* Data = nullptr;
    size_t Size = 0;
    size_t Pos = 0;
    char Error[160] = {};
};

void OnError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<TReadState*>(png_get_error_ptr(png));
    std::snprintf(state->Error, sizeof state->Error, "%s", message ? message : "damaged");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, size_t length)
{
    auto* state = static_cast<TReadState*>(png_get_io_ptr(png));
    if (length > state->Size - state->Pos)
        png_error(png, "the picture is cut off");
    std::memcpy(out, state->Data + state->Pos, length);
    state->Pos += length;
}

struct TLayout
{
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    int Channels = 0;
    int BitDepth = 0;
    size_t RowBytes = 0;
    int Passes = 1;
};

bool ReadHeader(png_structp png, png_infop info, TLayout* layout)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    layout->Width = png_get_image_width(png, info);
    layout->Height = png_get_image_height(png, info);
    layout->Channels = png_get_channels(png, info);
    layout->BitDepth = png_get_bit_depth(png, info);
    layout->Passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->RowBytes = png_get_rowbytes(png, info);
    return true;
}

bool ReadRows(png_structp png, png_infop info, const TLayout* layout, png_bytep row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int pass = 0; pass < layout->Passes; ++pass) {
        for (png_uint_32 y = 0; y < layout->Height; ++y)
            png_read_row(png, row, nullptr);
    }
    png_read_end(png, info);
    return true;
}

struct TPngDeleter
{
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~TPngDeleter() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

[[noreturn]] void Fail(const std::string& reason)
{
    throw EPngError("the file is not a valid PNG picture: " + reason);
}

} // namespace

size_t CheckPng(QByteArrayView data)
{
    static constexpr unsigned char Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data.size() < 8 || std::memcmp(data.data(), Signature, 8) != 0)
        throw EPngError("the file is not a PNG picture");

    auto state = std::make_unique<TReadState>();
    state->Data = reinterpret_cast<const unsigned char*>(data.data());
    state->Size = size_t(data.size());

    TPngDeleter handles;
    handles.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state.get(), OnError, OnWarning);
    if (!handles.Png)
        throw std::bad_alloc();
    handles.Info = png_create_info_struct(handles.Png);
    if (!handles.Info)
        throw std::bad_alloc();
    png_set_read_fn(handles.Png, state.get(), ReadBytes);
    png_set_user_limits(handles.Png, 100000, 100000);

    TLayout layout;
    if (!ReadHeader(handles.Png, handles.Info, &layout))
        Fail(state->Error);
    const quint64 rowBits =
        quint64(layout.Width) * quint64(layout.Channels) * quint64(layout.BitDepth);
    if ((rowBits + 7) / 8 * layout.Height > MaxPngDecodedBytes)
        throw EPngError("the picture is too large: " + std::to_string(layout.Width) + " x " +
                        std::to_string(layout.Height) + " pixels of " +
                        std::to_string(layout.Channels * layout.BitDepth) + " bits");
    std::vector<unsigned char> row(layout.RowBytes);
    if (!ReadRows(handles.Png, handles.Info, &layout, row.data()))
        Fail(state->Error);
    return state->Pos;
}
