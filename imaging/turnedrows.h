// Turning a picture too large to hold (a quarter or half turn, a flip, the
// turn its file records): its rows go, as they are decoded, into square
// tiles in an unnamed temporary file (nothing of it outlives the process,
// however it ends); once the last row is in, the turned picture's rows are
// read back from the tiles a band at a time and given on to the next sink.
// Only a band of rows and a strip of tiles are ever held.
#pragma once

#include "imaging/adjust.h"
#include "imaging/codecs/codecs.h"
#include "imaging/cximage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CxTurnedRows final : public cxcodec::RowSink {
public:
    // What is done, in this order: the picture turned upright as its file
    // records (orient), its uniform borders trimmed (within trimFuzz
    // percent), mirrored, flipped upside down, then turned clockwise by
    // quarters (0 to 3) - the order the whole picture's steps take.
    struct Turn {
        bool orient = false;
        bool trim = false;
        double trimFuzz = 0;
        bool mirror = false;
        bool flip = false;
        int quarters = 0;
    };
    // The store's file is made in folder, else in the system's temporary
    // folder.
    CxTurnedRows(std::string folder, Turn turn);
    ~CxTurnedRows() override;
    CxTurnedRows(const CxTurnedRows &) = delete;
    CxTurnedRows &operator=(const CxTurnedRows &) = delete;

    // Where the turned rows go: into the band it begins.
    void SendTo(cxcodec::RowSink *next) { m_next = next; }
    // Counts the colour rows' values as they are stored (for auto-levels);
    // null: not.
    void CountInto(cxadjust::LevelCounts *counts) { m_counts = counts; }
    // Whether what follows takes rows like the picture's (its depth,
    // palette and alpha, as set before its first row; its metadata) turned to width x
    // height (before a trim): one it would not take fails before anything
    // is stored, as "image too large".
    using Takes = std::function<bool(const CxImage &facts, const CxMetadata &meta, int width, int height)>;
    void TakesOnly(Takes takes) { m_takes = std::move(takes); }

    void FileSize(int width, int height) override;
    CxImage *Begin(int width, int height, int bpp, std::uint32_t type, const CxMetadata &meta) override;
    bool Room(int y) override;
    void Filled(int y) override;
    std::size_t SpareBytes() const override { return 0; }

    // Why the rows could not be turned ("" when they were, or when the
    // picture was declined): no room for the store, or its file failed.
    const std::string &Failure() const { return m_failure; }

    // The tiles' side, in pixels.
    static constexpr int kTile = 64;

private:
    // Writes the tile row holding rows [top, top + kTile) of the band.
    bool Store(int tileRow);
    // Reads the turned picture back and gives it on, row by row.
    bool Give();
    // Reads the stored picture's pixel at (x, y) as GetPixelColor gives it.
    bool PixelAt(std::int64_t x, std::int64_t y, RGBQUAD &colour);
    // Reads every stored row back into scan.
    bool ScanRows(cxadjust::TrimScan &scan);
    bool Fail(const char *why);

    const std::string m_folder;
    const Turn m_turn;
    cxcodec::RowSink *m_next = nullptr;
    cxadjust::LevelCounts *m_counts = nullptr;
    Takes m_takes;
    CxImage m_in;
    CxMetadata m_meta;
    int m_fd = -1;
    int m_fileW = 0, m_fileH = 0; // told by a decoder reading the picture reduced
    int m_pixelBytes = 0;         // stored a pixel: its bytes and its alpha
    int m_tilesX = 0, m_tilesY = 0;
    int m_stored = 0; // tile rows before it are in the file
    std::vector<std::uint8_t> m_buffer;
    std::string m_failure;
};
