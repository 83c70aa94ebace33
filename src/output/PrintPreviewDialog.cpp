#include "output/PrintPreviewDialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "document/qt/QtBitmap.h"
#include "output/PrintJob.h"

namespace velmora {

// The sheet as it will print: the paper with a shadow, the margins as a
// dashed line and the picture painted by the same code as the printer.
class PrintPagePreview : public QWidget {
 public:
  PrintPagePreview(const PrintPlacement& placement, const QImage& picture, QWidget* parent)
      : QWidget(parent), placement_(&placement), picture_(&picture) {
    setMinimumSize(300, 360);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Mid));
    const PrintRect& paper = placement_->paper;
    if (paper.IsEmpty()) return;
    constexpr double kPad = 12;
    const double scale = std::min((width() - 2 * kPad) / paper.width, (height() - 2 * kPad) / paper.height);
    if (!(scale > 0)) return;
    const double pw = paper.width * scale, ph = paper.height * scale;
    p.translate((width() - pw) / 2, (height() - ph) / 2);
    p.fillRect(QRectF(3, 3, pw, ph), QColor(64, 64, 64));
    p.fillRect(QRectF(0, 0, pw, ph), Qt::white);
    PaintPage(p, *picture_, *placement_, scale);
    const PrintRect& a = placement_->area;
    if (!a.IsEmpty()) {
      p.setPen(QPen(QColor(128, 128, 128), 0, Qt::DashLine));
      p.drawRect(QRectF(a.x * scale, a.y * scale, a.width * scale, a.height * scale));
    }
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(QRectF(0, 0, pw, ph));
  }

 private:
  const PrintPlacement* placement_;
  const QImage* picture_;
};

namespace {

// The preview needs no more pixels than a large screen shows of a page.
constexpr int kPreviewSide = 1024;

IEBitmap ReducedForPreview(const IEBitmap& picture) {
  if (picture.IsEmpty()) return {};
  if (picture.Width() <= kPreviewSide && picture.Height() <= kPreviewSide) return picture;
  const QImage full = ToQImage(picture);
  if (full.isNull()) return {};
  return FromQImage(full.scaled(kPreviewSide, kPreviewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QDoubleSpinBox* LengthBox(const char* name, QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setDecimals(2);
  box->setSingleStep(0.1);
  box->setKeyboardTracking(false);
  return box;
}

}  // namespace

PrintPreviewDialog::PrintPreviewDialog(QPrinter& printer, const IEBitmap& picture, const PrintSettings& settings,
                                       QWidget* parent)
    : QDialog(parent), printer_(&printer), picture_(&picture), settings_(Sanitized(settings)) {
  setWindowTitle(QString::fromLatin1(kTitle));
  reduced_ = ReducedForPreview(picture);
  BuildControls();
  RefreshPreviewPicture();
  ShowSettings();
}

PrintPreviewDialog::~PrintPreviewDialog() = default;

void PrintPreviewDialog::BuildControls() {
  preview_ = new PrintPagePreview(placement_, previewPicture_, this);
  preview_->setObjectName("Preview");

  marginTop_ = LengthBox("MarginTop", this);
  marginLeft_ = LengthBox("MarginLeft", this);
  marginRight_ = LengthBox("MarginRight", this);
  marginBottom_ = LengthBox("MarginBottom", this);
  auto* margins = new QGroupBox("Margins", this);
  auto* marginForm = new QFormLayout(margins);
  marginForm->addRow("Top:", marginTop_);
  marginForm->addRow("Left:", marginLeft_);
  marginForm->addRow("Right:", marginRight_);
  marginForm->addRow("Bottom:", marginBottom_);

  position_ = new QComboBox(this);
  position_->setObjectName("Position");
  for (int i = 0; i < kPrintPositionCount; ++i)
    position_->addItem(QString::fromLatin1(PrintPositionCaption(static_cast<PrintPosition>(i))));
  sizeMode_ = new QComboBox(this);
  sizeMode_->setObjectName("SizeMode");
  for (int i = 0; i < kPrintSizeModeCount; ++i)
    sizeMode_->addItem(QString::fromLatin1(PrintSizeModeCaption(static_cast<PrintSizeMode>(i))));
  specifiedWidth_ = LengthBox("SpecifiedWidth", this);
  specifiedHeight_ = LengthBox("SpecifiedHeight", this);
  auto* placing = new QGroupBox("Position and size", this);
  auto* placingForm = new QFormLayout(placing);
  placingForm->addRow("Position:", position_);
  placingForm->addRow("Size:", sizeMode_);
  placingForm->addRow("Width:", specifiedWidth_);
  placingForm->addRow("Height:", specifiedHeight_);

  gamma_ = new QDoubleSpinBox(this);
  gamma_->setObjectName("Gamma");
  gamma_->setDecimals(2);
  gamma_->setSingleStep(0.1);
  gamma_->setRange(PrintSettings::kMinGamma, PrintSettings::kMaxGamma);
  gamma_->setKeyboardTracking(false);
  unit_ = new QComboBox(this);
  unit_->setObjectName("Unit");
  unit_->addItem(QString::fromLatin1(MeasureUnitCaption(MeasureUnit::Inches)));
  unit_->addItem(QString::fromLatin1(MeasureUnitCaption(MeasureUnit::Centimeters)));
  auto* other = new QGroupBox("Output", this);
  auto* otherForm = new QFormLayout(other);
  otherForm->addRow("Gamma correction:", gamma_);
  otherForm->addRow("Measure unit:", unit_);

  printerInfo_ = new QLabel(this);
  printerInfo_->setObjectName("PrinterInfo");
  printerInfo_->setWordWrap(true);
  problem_ = new QLabel(this);
  problem_->setObjectName("Problem");
  problem_->setWordWrap(true);
  problem_->setStyleSheet("color: #b00000");

  setup_ = new QPushButton("Printer Setup", this);
  setup_->setObjectName("PrinterSetup");
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("OK");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("Cancel");

  auto* side = new QVBoxLayout;
  side->addWidget(margins);
  side->addWidget(placing);
  side->addWidget(other);
  side->addWidget(printerInfo_);
  side->addWidget(setup_);
  side->addStretch(1);
  side->addWidget(problem_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  side->addLayout(buttons);

  auto* top = new QHBoxLayout(this);
  top->addWidget(preview_, 1);
  top->addLayout(side);

  // Each control sets only its own length: the others keep their exact
  // values, which the two decimals shown may have rounded.
  const std::pair<QDoubleSpinBox*, double PrintSettings::*> lengths[] = {
      {marginTop_, &PrintSettings::marginTop},         {marginLeft_, &PrintSettings::marginLeft},
      {marginRight_, &PrintSettings::marginRight},     {marginBottom_, &PrintSettings::marginBottom},
      {specifiedWidth_, &PrintSettings::specifiedWidth}, {specifiedHeight_, &PrintSettings::specifiedHeight}};
  for (const auto& length : lengths) {
    double PrintSettings::*field = length.second;
    connect(length.first, &QDoubleSpinBox::valueChanged, this, [this, field](double shown) { LengthEdited(field, shown); });
  }
  connect(gamma_, &QDoubleSpinBox::valueChanged, this, [this] { GammaEdited(); });
  connect(position_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (showing_ || i < 0) return;
    settings_.position = static_cast<PrintPosition>(i);
    Refresh();
  });
  connect(sizeMode_, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (showing_ || i < 0) return;
    settings_.sizeMode = static_cast<PrintSizeMode>(i);
    Refresh();
  });
  connect(unit_, &QComboBox::currentIndexChanged, this, [this](int i) { UnitChosen(i); });
  connect(setup_, &QPushButton::clicked, this, [this] { PrinterSetup(); });
  connect(ok_, &QPushButton::clicked, this, &PrintPreviewDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &PrintPreviewDialog::reject);
}

void PrintPreviewDialog::SetSettings(const PrintSettings& settings) {
  const double oldGamma = settings_.gamma;
  settings_ = Sanitized(settings);
  if (settings_.gamma != oldGamma) RefreshPreviewPicture();
  ShowSettings();
}

void PrintPreviewDialog::ShowSettings() {
  showing_ = true;
  const MeasureUnit u = settings_.unit;
  const double maxLength = ToUnit(PrintSettings::kMaxInches, u);
  const QString suffix = u == MeasureUnit::Centimeters ? " cm" : " in";
  const auto show = [&](QDoubleSpinBox* box, double inches) {
    box->setRange(0, maxLength);
    box->setSuffix(suffix);
    box->setValue(ToUnit(inches, u));
  };
  show(marginTop_, settings_.marginTop);
  show(marginLeft_, settings_.marginLeft);
  show(marginRight_, settings_.marginRight);
  show(marginBottom_, settings_.marginBottom);
  show(specifiedWidth_, settings_.specifiedWidth);
  show(specifiedHeight_, settings_.specifiedHeight);
  position_->setCurrentIndex(static_cast<int>(settings_.position));
  sizeMode_->setCurrentIndex(static_cast<int>(settings_.sizeMode));
  gamma_->setValue(settings_.gamma);
  unit_->setCurrentIndex(static_cast<int>(u));
  showing_ = false;
  Refresh();
}

void PrintPreviewDialog::LengthEdited(double PrintSettings::*field, double shown) {
  if (showing_) return;
  settings_.*field = FromUnit(shown, settings_.unit);
  Refresh();
}

void PrintPreviewDialog::GammaEdited() {
  if (showing_) return;
  settings_.gamma = Sanitized(PrintSettings{.gamma = gamma_->value()}).gamma;
  RefreshPreviewPicture();
  Refresh();
}

void PrintPreviewDialog::UnitChosen(int index) {
  if (showing_ || index < 0) return;
  // Only what the controls show changes; every length stays as long.
  settings_.unit = static_cast<MeasureUnit>(index);
  ShowSettings();
}

void PrintPreviewDialog::PrinterSetup() {
  QPrintDialog setup(printer_, this);
  setup.setWindowTitle("Printer Setup");
  setup.setOption(QAbstractPrintDialog::PrintSelection, false);
  setup.setOption(QAbstractPrintDialog::PrintPageRange, false);
  setup.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  setup.setOption(QAbstractPrintDialog::PrintToFile, true);
  setup.exec();
  Refresh();
}

void PrintPreviewDialog::RefreshPreviewPicture() {
  previewPicture_ = PrintedImage(reduced_, settings_.gamma);
  if (preview_) preview_->update();
}

void PrintPreviewDialog::Refresh() {
  const QSizeF paper = PaperPoints(*printer_);
  placement_ = PlacePicture(paper.width(), paper.height(), settings_, picture_->Width(), picture_->Height());
  const std::string problem = PlacementProblem(placement_, settings_, picture_->Width(), picture_->Height());
  problem_->setText(QString::fromStdString(problem));
  ok_->setEnabled(placement_.ok);
  const bool specified = settings_.sizeMode == PrintSizeMode::SpecifiedSize;
  specifiedWidth_->setEnabled(specified);
  specifiedHeight_->setEnabled(specified);

  const QPageLayout layout = printer_->pageLayout();
  QString where = printer_->outputFormat() == QPrinter::PdfFormat
                      ? (printer_->outputFileName().isEmpty() ? QString("No printer chosen")
                                                              : "PDF file " + printer_->outputFileName())
                      : printer_->printerName();
  where += QString(" (%1, %2)")
               .arg(layout.pageSize().name(),
                    layout.orientation() == QPageLayout::Landscape ? QString("landscape") : QString("portrait"));
  printerInfo_->setText(where);
  preview_->update();
}

void PrintPreviewDialog::accept() {
  if (!PrintPicture(*printer_, *picture_, settings_, &lastError_)) {
    QMessageBox::warning(this, QString::fromLatin1(kTitle), QString::fromStdString(lastError_));
    return;
  }
  QDialog::accept();
}

}  // namespace velmora
