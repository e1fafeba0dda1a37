#pragma once
// The still-image box of the checker's preview area: the clicked JPEG,
// squeezed into a fixed 226 x 165 area whatever the box's own size.
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <string>

class CImgBox : public QWidget {
    Q_OBJECT
public:
    static constexpr int kControlId = 1017;
    static constexpr int kDrawWidth = 226;
    static constexpr int kDrawHeight = 165;
    // Larger files are not shown: a snapshot is far smaller, and the whole
    // file is read at once.
    static constexpr int64_t kMaxFileBytes = 256 * 1024 * 1024;

    explicit CImgBox(QWidget* parent = nullptr);

    // False (and the box empty) when the file is not a readable image or not a
    // regular file.
    bool Load(const std::string& path);
    void Clear();

    bool HasImage() const { return !image_.isNull(); }
    // The loaded picture as 24-bit colour, whatever depth the file had.
    const QImage& image() const { return image_; }
    // What a paint of the box shows.
    QImage Render() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Paint(QPainter& painter) const;

    QImage image_;
};
