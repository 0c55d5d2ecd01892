#include "graphics/plane/PlaneImage.h"

#include <gif_lib.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <memory>
#include <vector>

#include "core/Host.h"
#include "core/Text.h"
#include "environment/EnvState.h"
#include "environment/Main.h"
#include "graphics/plane/PlnWin.h"

namespace {

int WriteToDevice(GifFileType* file, const GifByteType* bytes, int length) {
  auto* device = static_cast<QIODevice*>(file->UserData);
  return static_cast<int>(device->write(reinterpret_cast<const char*>(bytes), length));
}

struct GifCloser {
  void operator()(GifFileType* file) const {
    int error = 0;
    EGifCloseFile(file, &error);
  }
};
struct MapFreer {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

// The palette and indices of the picture, quantised when it has too many
// colours.
bool IndexPicture(const PlanePicture& picture, std::vector<GifColorType>& colours, std::vector<GifByteType>& indices) {
  const size_t pixels = static_cast<size_t>(picture.Width) * static_cast<size_t>(picture.Height);
  if (const std::optional<IndexedPicture> exact = ExactPalette(picture)) {
    for (const uint32_t rgb : exact->Palette)
      colours.push_back({static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
                         static_cast<GifByteType>(rgb)});
    indices.assign(exact->Indices.begin(), exact->Indices.end());
    return true;
  }
  std::vector<GifByteType> red(pixels), green(pixels), blue(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    red[i] = picture.Rgb[i * 3];
    green[i] = picture.Rgb[i * 3 + 1];
    blue[i] = picture.Rgb[i * 3 + 2];
  }
  int size = 256;
  colours.resize(256);
  indices.resize(pixels);
  if (GifQuantizeBuffer(static_cast<unsigned>(picture.Width), static_cast<unsigned>(picture.Height), &size, red.data(),
                        green.data(), blue.data(), indices.data(), colours.data()) == GIF_ERROR)
    return false;
  colours.resize(static_cast<size_t>(size));
  return true;
}

}  // namespace

QImage ImageOfPicture(const PlanePicture& picture) {
  QImage image(picture.Width, picture.Height, QImage::Format_RGB888);
  const size_t stride = static_cast<size_t>(picture.Width) * 3;
  for (int y = 0; y < picture.Height; ++y)
    std::copy_n(picture.Rgb.data() + y * stride, stride, image.scanLine(y));
  return image;
}

PlanePicture PictureOfImage(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  PlanePicture picture;
  picture.Width = image.width();
  picture.Height = image.height();
  const size_t stride = static_cast<size_t>(picture.Width) * 3;
  picture.Rgb.resize(stride * static_cast<size_t>(picture.Height));
  for (int y = 0; y < picture.Height; ++y) std::copy_n(image.constScanLine(y), stride, picture.Rgb.data() + y * stride);
  return picture;
}

std::string WriteGif(const PlanePicture& picture, QIODevice& device) {
  if (picture.Width <= 0 || picture.Height <= 0) return "the picture is empty";
  std::vector<GifColorType> colours;
  std::vector<GifByteType> indices;
  if (!IndexPicture(picture, colours, indices)) return "the colours cannot be reduced";
  // A colour map holds a power of two entries, two at least.
  int bits = 1;
  while ((1 << bits) < static_cast<int>(colours.size())) ++bits;
  colours.resize(size_t{1} << bits, GifColorType{0, 0, 0});
  const std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(1 << bits, colours.data()));
  if (map == nullptr) return "out of memory";
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> file(EGifOpen(&device, WriteToDevice, &error));
  if (file == nullptr) return GifErrorString(error);
  if (EGifPutScreenDesc(file.get(), picture.Width, picture.Height, bits, 0, map.get()) == GIF_ERROR ||
      EGifPutImageDesc(file.get(), 0, 0, picture.Width, picture.Height, false, nullptr) == GIF_ERROR)
    return GifErrorString(file->Error);
  for (int y = 0; y < picture.Height; ++y)
    if (EGifPutLine(file.get(), indices.data() + static_cast<size_t>(y) * picture.Width, picture.Width) == GIF_ERROR)
      return GifErrorString(file->Error);
  GifFileType* raw = file.release();
  if (EGifCloseFile(raw, &error) == GIF_ERROR) return GifErrorString(error);
  return {};
}

PrintRect DrawPictureOnPage(QPainter& painter, QSize page, const QImage& picture) {
  const PrintRect r = PrintGeometry(picture.width(), picture.height(), page.width(), page.height());
  painter.drawImage(QRect(r.Left, r.Top, r.Width, r.Height), picture);
  return r;
}

std::string SavePictureFile(const PlanePicture& picture, const QString& path, PictureType type, int quality) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
  if (type == PictureType::Gif) {
    const std::string error = WriteGif(picture, file);
    if (!error.empty()) {
      file.cancelWriting();
      return error;
    }
  } else {
    const char* format = type == PictureType::Bmp ? "bmp" : type == PictureType::Jpeg ? "jpeg" : "png";
    QImageWriter writer(&file, format);
    if (type == PictureType::Jpeg) writer.setQuality(quality);
    if (!writer.write(ImageOfPicture(picture))) {
      file.cancelWriting();
      return writer.errorString().toStdString();
    }
  }
  if (!file.commit()) return file.errorString().toStdString();
  return {};
}

// --- the plane's commands ----------------------------------------------------------------

PlanePicture TPlane::capturePicture() {
  Paint();
  const bool previous = ownPaint_;
  ownPaint_ = true;
  const QPixmap shot = view_->grab();
  ownPaint_ = previous;
  bindingDirty_ = true;
  return PictureOfImage(shot.toImage());
}

std::string TPlane::savePicture(const PlanePicture& picture, const std::u16string& path, int quality,
                                bool forceJpeg) {
  const PictureType type = forceJpeg ? PictureType::Jpeg : PictureTypeOf(path);
  if (type == PictureType::Unknown) return "unknown picture type";
  return SavePictureFile(picture, QString::fromStdU16String(path), type, quality);
}

std::u16string TPlane::Text(const char16_t* key) const {
  return mainForm().env().LanguageTexts.GetValueOrKey(key);
}

void TPlane::ShowMessage(const std::u16string& text) {
  mainForm().showMessage(QString::fromStdU16String(text), QString(), dfOk);
}

void TPlane::SaveImageAs() {
  const PlanePicture picture = capturePicture();
  const std::optional<QString> chosen = mainForm().saveDialog().Execute(this, sfJpeg);
  if (!chosen) return;
  const std::u16string path = chosen->toStdU16String();
  if (PictureTypeOf(path) == PictureType::Unknown) {
    ShowMessage(FormatMessage(Text(u"DIALOG.SAVEIMAGE.BADTYPE"), {ExtensionOf(path)}));
    return;
  }
  const std::string error = savePicture(picture, path, 90, false);
  if (!error.empty()) ShowMessage(FormatMessage(Text(u"DIALOG.SAVEIMAGE.FAILED"), {path, Utf8ToUtf16(error)}));
}

void TPlane::CopyToClipboard() { QGuiApplication::clipboard()->setImage(ImageOfPicture(capturePicture())); }

void TPlane::PrintPlane() {
  const QImage image = ImageOfPicture(capturePicture());
  QPrinter printer(QPrinter::HighResolution);
  if (mainForm().prompts().setUpPrinter(this, printer)) {
    QPainter painter;
    if (!painter.begin(&printer)) {
      ShowMessage(FormatMessage(Text(u"DIALOG.PRINT.FAILED"), {std::u16string(u"the printer cannot start")}));
    } else {
      // The painter's origin is the printable area's corner.
      const QRectF page = printer.pageRect(QPrinter::DevicePixel);
      DrawPictureOnPage(painter, page.size().toSize(), image);
      if (!painter.end())
        ShowMessage(FormatMessage(Text(u"DIALOG.PRINT.FAILED"), {std::u16string(u"the printer failed")}));
    }
  }
  view_->setFocus();
}
