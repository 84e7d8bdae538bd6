#pragma once
// The part of a label text that can show on the annotated view.
//
// A label is free text from a ".gt" file and may be megabytes long, but the
// view draws it on one line from the box's corner to the right, so only the
// glyphs that land between the image's left and right edges can set a pixel.
// The view is redrawn every 10 ms: measuring, converting and drawing a whole
// long label each time freezes it. LabelCut hands the view a text of bounded
// length, drawn at an origin of its own, that sets exactly the pixels that
// cv::putText of the whole label (FONT_HERSHEY_COMPLEX_SMALL, LINE_8) sets on
// the image, and the label's width as far as the background needs it.
//
// How: with this font putText draws one glyph per UTF-8 byte (bytes outside
// printable ASCII as "?"), the pen moving right by the glyph's advance, in
// 1/65536 pixel steps. Every advance is at least a few font units, and no
// stroke lies farther than a few units from its pen position, so the glyphs
// that can show are those whose pen lies within a margin of the image. The
// cut text is those glyphs; when the first of them does not start at the
// label's first character, the cut text starts with a filler of glyphs that
// lie wholly left of the image ("?" or another glyph a few times, then
// spaces, which draw nothing) whose advance brings the pen to the first
// visible glyph's exact sub-pixel position from a whole-pixel origin.
//
// Labels of up to kShortLabel UTF-16 units (every ordinary class name) are
// drawn whole, as before. A longer label whose origin lies far left of the
// image needs the pen position after many characters: for it a table of the
// advance at every kCheckpoint-th character is built once and kept while the
// label is drawn (it is dropped after a redraw that did not draw it), about
// 1/500 of the label's size; the label text is held by reference only (the
// QString's shared data), never copied.

#include <QString>

#include <opencv2/core.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class LabelCut {
public:
    static constexpr int kShortLabel = 1024;  // drawn whole
    static constexpr int kCheckpoint = 4096;  // characters between two table entries

    struct Cut {
        std::string text;     // UTF-8 bytes to draw
        long long origin_x;   // where to draw them (the label's own origin when uncut on the left)
        // Width of the label as cv::getTextSize gives it, exact when the label
        // is drawn whole; for a label cut at the right edge any width that
        // reaches past the image (the background ends at the image's edge
        // then).
        long long width;
        int height;           // cv::getTextSize's height (the same for every text)
    };

    // The label drawn with its origin's x at `origin_x` on an image
    // `image_width` wide, at this scale and thickness (those of the view).
    Cut cut(const QString& label, long long origin_x, int image_width, double scale, int thickness);

    // A redraw calls begin_redraw first and end_redraw last: tables of labels
    // that the redraw did not draw are dropped then.
    void begin_redraw();
    void end_redraw();

    size_t tables() const { return tables_.size(); }

private:
    struct Table {
        QString label;                // keeps the label's data, so its address stays its own
        std::vector<int64_t> advance; // advance (font units) before character i * kCheckpoint
        bool used = false;
    };
    const Table& table(const QString& label);

    std::map<std::pair<const QChar*, int>, Table> tables_;
};
