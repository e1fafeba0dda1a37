#pragma once
// Static text with its own background and text colours (COLORREF).
#include <QLabel>

#include <cstdint>

class CMyStatic : public QLabel {
    Q_OBJECT
public:
    explicit CMyStatic(QWidget* parent = nullptr, int control_id = 0);

    void SetBackgroundColour(uint32_t colorref);
    void SetTextColour(uint32_t colorref);
    uint32_t BackgroundColour() const { return background_; }
    uint32_t TextColour() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    uint32_t background_ = 0xC8D0D4;  // system button face
    uint32_t text_ = 0x000000;
};
