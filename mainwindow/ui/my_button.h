#pragma once
// Owner-drawn push button of the skin: four pictures (first, normal, pressed,
// hover) layered in a fixed order, and a hand cursor.
#include <QAbstractButton>
#include <QImage>

#include <string>

class CMyButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CMyButton(QWidget* parent = nullptr, int control_id = 0);

    // A path that does not load leaves that picture empty.
    void SetImages(const std::string& first, const std::string& normal, const std::string& pressed,
                   const std::string& hover);
    void SetImages(const QImage& first, const QImage& normal, const QImage& pressed, const QImage& hover);

    // Latched: the first picture is drawn over the others.
    void SetLatched(int latched);
    int Latched() const { return latched_; }
    bool Hovering() const { return hover_ != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int latched_ = 0;
    int hover_ = 0;
    QImage first_;
    QImage normal_;
    QImage pressed_;
    QImage hover_image_;
};
