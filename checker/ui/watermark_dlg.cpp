#include "checker/ui/watermark_dlg.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeWidget>

#include "checker/ui/checker_viewer.h"
#include "checker/ui/img_box.h"
#include "checker/verification.h"
#include "mainwindow/ui/about_dlg.h"
#include "mainwindow/ui/loading_page.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/skin_image.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/text_fit.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "tools/common/skin_names.h"

namespace {

CheckerFileChooser& FileChooser() {
    static CheckerFileChooser chooser;
    return chooser;
}

FileVerifier& Verifier() {
    static FileVerifier verifier;
    return verifier;
}

std::vector<std::string> RealFileChooser(QWidget* owner) {
    const QStringList chosen = QFileDialog::getOpenFileNames(
        owner, QString(), QString::fromStdString(ui::ChooserStartFolder()), "JPEG Files (*.jpg*);;AVI Files (*.avi)");
    if (!chosen.isEmpty()) ui::NoteChosenFolder(QFileInfo(chosen.front()).absolutePath().toStdString());
    std::vector<std::string> out;
    for (const QString& p : chosen) out.push_back(p.toStdString());
    return out;
}

// The buttons' tooltips come up after the dialog's own delay.
class TipDelayStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return CWatermarkDlg::kTipDelayMs;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Grid lines between the list's rows and columns.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }
};

QString Tr(const char* key, const char* def) { return QString::fromStdString(TranslateText(key, def)); }

std::string Image(const std::string& name) { return platform::ProgramFolder() + "/images/" + name; }

}  // namespace

CheckerFileChooser SetCheckerFileChooser(CheckerFileChooser chooser) {
    CheckerFileChooser previous = std::move(FileChooser());
    FileChooser() = std::move(chooser);
    return previous;
}

FileVerifier SetCheckerFileVerifier(FileVerifier verifier) {
    std::swap(Verifier(), verifier);
    return verifier;
}

CWatermarkDlg::CWatermarkDlg(QWidget* parent) : QDialog(parent), preview_(nullptr) {
    // The template's dialog units in the font the window really has.
    const ui::DialogUnits units = ui::DialogUnitsOf(font());
    const auto Du = [&units](int x, int y, int w, int h) { return units.Rect(x, y, w, h); };
    setFixedSize(Du(0, 0, 431, 180).size());
    auto button = [this](int id, const char* text, QRect place, const std::string& stem) {
        auto* b = new CMyButton(this, id);
        b->setText(QString::fromUtf8(text));
        b->setGeometry(place);
        b->SetImages(Image(stem + "-M.bmp"), Image(stem + "-D.bmp"), Image(stem + "-N.bmp"), Image(stem + "-0.bmp"));
        // The looks are drawn unscaled over the face: the button takes the pictures' size.
        const QSize picture = QImage(QString::fromStdString(Image(stem + "-D.bmp"))).size();
        if (!picture.isEmpty()) b->resize(picture);
        return b;
    };
    add_file_ = button(kIdAddFile, "Add", Du(9, 13, 14, 13), "new");
    add_folder_ = button(kIdAddFolder, "S", Du(23, 13, 14, 13), "search");
    remove_ = button(kIdRemove, "Del", Du(38, 13, 14, 13), "delete");
    select_all_ = button(kIdSelectAll, "All", Du(53, 13, 14, 13), "selectall");
    verify_ = button(kIdVerify, "驗證", Du(267, 8, 18, 17), "verification");

    list_ = new QTreeWidget(this);
    list_->setProperty("controlId", kIdList);
    list_->setGeometry(Du(9, 28, 276, 139));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setColumnCount(3);
    list_->setItemDelegate(new GridLineDelegate(list_));
    list_->viewport()->installEventFilter(this);

    auto label = [this](int id, const QString& text, QRect place, Qt::Alignment align = Qt::AlignLeft) {
        auto* l = new QLabel(text, this);
        if (id) l->setProperty("controlId", id);
        l->setGeometry(place);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };
    auto* group = new QGroupBox(this);
    group->setProperty("controlId", 1024);
    group->setGeometry(Du(291, 8, 131, 111));
    group->setTitle(Tr("TXT_PREVIEW_IMG", "影像預覽"));
    img_box_ = new CImgBox(this);
    // The box holds the whole drawing area the picture is scaled into.
    const QRect box = Du(291, 23, 131, 94);
    img_box_->setGeometry(QRect(box.topLeft(), box.size().expandedTo(QSize(CImgBox::kDrawWidth, CImgBox::kDrawHeight))));
    grid_ = new CCheckerViewerGrid(this, box.topLeft());
    preview_.SetSink(grid_->Viewer(0));
    auto* frame = new QLabel(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(Du(291, 120, 131, 46));
    label(1025, Tr("TXT_STATUS", "狀態"), Du(298, 126, 24, 8));
    // Each counter row on one line: the template's rows wander by a unit or
    // two, which our taller font turns into a visible step.
    const auto row = [&Du](int x, int y, int w, int h, int row_y) {
        const QRect place = Du(x, y, w, h);
        const QRect line = Du(x, row_y, w, 11);
        return QRect(place.x(), line.y(), place.width(), line.height());
    };
    label(1026, Tr("TXT_VERI_FILENUM", "已驗證檔案"), row(305, 140, 54, 11, 140));
    label(1027, Tr("TXT_PASS_FILENUM", "通過驗證檔案"), row(305, 152, 50, 8, 152));
    checked_ = label(kIdChecked, "0", row(348, 139, 46, 9, 140), Qt::AlignRight);
    passed_ = label(kIdPassed, "0", row(377, 151, 17, 12, 152), Qt::AlignRight);
    label(1028, Tr("TXT_FILE", "檔案"), row(397, 138, 14, 9, 140));
    label(1029, Tr("TXT_FILE", "檔案"), row(397, 150, 16, 9, 152));

    connect(add_file_, &QAbstractButton::clicked, this, &CWatermarkDlg::OnAddFile);
    connect(add_folder_, &QAbstractButton::clicked, this, &CWatermarkDlg::OnAddFolder);
    connect(remove_, &QAbstractButton::clicked, this, &CWatermarkDlg::OnRemove);
    connect(select_all_, &QAbstractButton::clicked, this, &CWatermarkDlg::OnSelectAll);
    connect(verify_, &QAbstractButton::clicked, this, &CWatermarkDlg::OnVerify);
    connect(list_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { OnListClick(list_->indexOfTopLevelItem(item)); });

    OnInitDialog();
}

CWatermarkDlg::~CWatermarkDlg() {
    StopAviPreview();
    run_ = 0;
    run_.notify_all();
    if (verify_thread_.joinable()) verify_thread_.join();
}

void CWatermarkDlg::OnSysCommand(int command) {
    if (CSystemMenu::IsAboutCommand(command)) RunAboutBox(this, "About Halyard", "Halyard V1.0.00");
}

void CWatermarkDlg::OnInitDialog() {
    system_menu_ = new CSystemMenu(this, "About Halyard(&A)...", [this](int command) { OnSysCommand(command); });
    setWindowIcon(QIcon(QPixmap::fromImage(LoadSkinImage(skin::kCheckerIconFile))));
    setWindowTitle(Tr("TITLE_HALYARD", "Halyard"));
    auto* tip_style = new TipDelayStyle;
    tip_style->setParent(this);
    for (CMyButton* b : {add_file_, remove_, add_folder_, select_all_, verify_}) b->setStyle(tip_style);
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, ColorFromColorref(kTipBackground));
    QToolTip::setPalette(tips);
    add_file_->setToolTip(Tr("TIP_ADDFILE", "新增檔案"));
    remove_->setToolTip(Tr("TIP_REMOVE", "移除檔案"));
    add_folder_->setToolTip(Tr("TIP_ADDFOLDER", "新增資料夾"));
    select_all_->setToolTip(Tr("TIP_SELECT_ALL", "全選"));
    verify_->setToolTip(Tr("TIP_VERIFY", "驗證"));
    select_all_->setEnabled(false);
    verify_->setEnabled(false);

    list_->clear();
    list_->setHeaderLabels({Tr("TXT_FILENAME", "檔案名稱"), Tr("TXT_WATERMARK", "浮水印"), Tr("TXT_PATH", "路徑")});
    list_->setColumnWidth(kColumnName, 130);
    list_->setColumnWidth(kColumnResult, 80);
    list_->setColumnWidth(kColumnFolder, 270);
    list_->headerItem()->setTextAlignment(kColumnName, Qt::AlignRight | Qt::AlignVCenter);
    list_->headerItem()->setTextAlignment(kColumnResult, Qt::AlignCenter);
    checked_->setText("0");
    passed_->setText("0");
    // One view, hidden until an AVI file is previewed.
    const QRect preview = img_box_->geometry();
    grid_->Create(preview.x(), preview.y(), preview.width(), preview.height());
    grid_->ApplyLayout(1);
    grid_->hide();
    img_box_->show();
    ui::FitTexts(this);
}

QString CWatermarkDlg::CheckedText() const { return checked_->text(); }
QString CWatermarkDlg::PassedText() const { return passed_->text(); }

void CWatermarkDlg::ClearSelection() {
    list_->clearSelection();
}

bool CWatermarkDlg::AddPath(const std::string& path) {
    std::string name, folder;
    SplitFilePath(path, &name, &folder);
    const QString qname = QString::fromStdString(name);
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (list_->topLevelItem(i)->text(kColumnName) == qname) return false;
    auto* item = new QTreeWidgetItem({qname, QString(), QString::fromStdString(folder)});
    item->setTextAlignment(kColumnName, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(kColumnResult, Qt::AlignCenter);
    list_->insertTopLevelItem(0, item);
    return true;
}

void CWatermarkDlg::OnAddFile() {
    StopAviPreview();
    verify_->setEnabled(false);
    ClearSelection();
    const CheckerFileChooser& chooser = FileChooser();
    const std::vector<std::string> chosen = chooser ? chooser(this) : RealFileChooser(this);
    for (const std::string& path : chosen) {
        if (!AddPath(path)) continue;
        if (IsJpegPath(path))
            img_box_->Load(path);
        else
            img_box_->Clear();
    }
    ui::FitColumns(list_);
    if (list_->topLevelItemCount() > 0) select_all_->setEnabled(true);
}

void CWatermarkDlg::OnAddFolder() {
    StopAviPreview();
    verify_->setEnabled(false);
    ClearSelection();
    const std::optional<std::string> folder = ui::ChooseFolder(this, "");
    if (folder && !folder->empty())
        for (const std::string& path : ScanCheckFolder(*folder)) AddPath(path);
    ui::FitColumns(list_);
    if (list_->topLevelItemCount() > 0) select_all_->setEnabled(true);
}

void CWatermarkDlg::OnRemove() {
    StopAviPreview();
    for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (!item->isSelected()) continue;
        delete list_->takeTopLevelItem(i);
        img_box_->Clear();
    }
    if (list_->topLevelItemCount() == 0) select_all_->setEnabled(false);
    Recount();
    verify_->setEnabled(false);
}

void CWatermarkDlg::OnSelectAll() {
    StopAviPreview();
    verify_->setEnabled(true);
    current_item_ = 0;
    list_->selectAll();
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    list_->setFocus();
}

void CWatermarkDlg::OnListClick(int row) {
    if (row < 0 || row >= list_->topLevelItemCount()) {
        verify_->setEnabled(false);
        StopAviPreview();
        return;
    }
    QTreeWidgetItem* item = list_->topLevelItem(row);
    const std::string path =
        JoinFilePath(item->text(kColumnFolder).toStdString(), item->text(kColumnName).toStdString());
    current_item_ = row;
    item->setSelected(true);
    if (IsJpegPath(path)) {
        StopAviPreview();
        img_box_->Load(path);
        grid_->hide();
        img_box_->show();
    } else {
        img_box_->Clear();
        const std::string avi = ".avi";
        if (path.size() >= avi.size() && path.compare(path.size() - avi.size(), avi.size(), avi) == 0) {
            img_box_->hide();
            grid_->show();
            StartAviPreview(path);
        }
    }
    verify_->setEnabled(true);
}

void CWatermarkDlg::OnSelectionReleased() {
    // Keyboard moves change the selection too, but only a mouse selection
    // chooses rows to verify.
    if (!list_->selectedItems().isEmpty()) {
        current_item_ = 0;
        verify_->setEnabled(true);
    } else {
        verify_->setEnabled(false);
    }
}

bool CWatermarkDlg::eventFilter(QObject* watched, QEvent* event) {
    // Looked at once the list has handled the release, which may still change
    // the selection.
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        QMetaObject::invokeMethod(this, &CWatermarkDlg::OnSelectionReleased, Qt::QueuedConnection);
    if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!list_->itemAt(mouse->position().toPoint())) {
            verify_->setEnabled(false);
            if (mouse->button() == Qt::LeftButton) StopAviPreview();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CWatermarkDlg::Recount() {
    int checked = 0;
    int passed = 0;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        const QString mark = list_->topLevelItem(i)->text(kColumnResult);
        if (!mark.isEmpty()) ++checked;
        if (mark == "V") ++passed;
    }
    checked_->setText(QString::asprintf("%d", checked));
    passed_->setText(QString::asprintf("%d", passed));
}

void CWatermarkDlg::OnVerify() {
    StopAviPreview();
    run_ = 0;
    if (verify_thread_.joinable()) {
        verify_thread_.join();
        busy_ = 0;
    }

    // The rows are read here and the verdicts written here after the worker
    // has ended; the worker never touches the list.
    std::vector<VerifyJob> jobs;
    if (current_item_ != -1) {
        for (int i = 0; i < list_->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list_->topLevelItem(i);
            if (item->isSelected())
                jobs.push_back({i, JoinFilePath(item->text(kColumnFolder).toStdString(),
                                                item->text(kColumnName).toStdString())});
        }
    }
    const size_t job_count = jobs.size();
    verify_results_.clear();
    busy_ = 1;
    run_ = 1;
    verify_thread_ = std::thread([this, jobs = std::move(jobs), verify = Verifier()] {
        verify_results_ = VerifyFilesThread(jobs, run_, verify);
        run_ = 0;
        busy_ = 0;
    });

    CLoadingPage page(this);
    page.tick_limit = verify_tick_limit_;
    page.watched_flag = &busy_;
    page.text = "Waiting......";
    page.DoModal();

    // A busy window that ran out of ticks cuts the run: the file in progress
    // gives up within one read, so the join is short; what was verified by
    // then is still shown.
    run_ = 0;
    run_.notify_all();
    verify_thread_.join();
    busy_ = 0;
    const bool cut = verify_results_.size() < job_count;
    for (const VerifyResult& r : verify_results_)
        if (QTreeWidgetItem* item = list_->topLevelItem(r.row)) item->setText(kColumnResult, QString::fromStdString(r.mark));
    ClearSelection();
    list_->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    Recount();

    verify_->setEnabled(false);
    platform::ShowMessageBox(cut ? kCutText : kCompletedText, "Message", platform::kMbOk);
}

void CWatermarkDlg::StartAviPreview(const std::string& path) { preview_.StartAviPreview(path); }

void CWatermarkDlg::StopAviPreview() { preview_.StopAviPreview(); }
