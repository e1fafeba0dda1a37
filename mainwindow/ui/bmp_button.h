#pragma once
// Owner-drawn button with four pictures (disabled, normal, pressed/checked,
// hover) that can also act as a check box or a radio button.
#include <QAbstractButton>
#include <QImage>

#include <string>

class CBmpButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kPushButton = 0;
    static constexpr int kCheckBox = 2;
    static constexpr int kRadioButton = 4;

    // Radio buttons with the same parent and group are exclusive.
    explicit CBmpButton(int kind = kPushButton, QWidget* parent = nullptr, int control_id = 0, int group = 0);

    void SetImages(const std::string& disabled, const std::string& normal, const std::string& pressed,
                   const std::string& hover);
    void SetImages(const QImage& disabled, const QImage& normal, const QImage& pressed, const QImage& hover);

    // BM_SETCHECK / BM_GETCHECK; a push button is never checked.
    void SetCheck(int check);
    int GetCheck() const { return checked_ ? 1 : 0; }
    int Kind() const { return kind_; }
    int Group() const { return group_; }
    bool Hovering() const { return hover_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int kind_;
    int group_;
    bool checked_ = false;
    bool hover_ = false;
    bool pressed_ = false;
    QImage disabled_;
    QImage normal_;
    QImage pressed_image_;
    QImage hover_image_;
};
