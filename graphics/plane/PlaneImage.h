#pragma once
// The plane's picture in files: BMP, JPEG and PNG through Qt's writers,
// GIF through giflib (Qt cannot write it). Writes go through QSaveFile, so
// a failed write leaves an existing file as it was.

#include <QIODevice>
#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>
#include <string>

#include "graphics/PictureFiles.h"
#include "graphics/PlaneLink.h"

QImage ImageOfPicture(const PlanePicture& picture);
PlanePicture PictureOfImage(const QImage& image);
// The picture as a GIF into the device: its exact palette when it has at
// most 256 colours, else a quantised one. "" or why it failed.
std::string WriteGif(const PlanePicture& picture, QIODevice& device);
// Draws the picture on a page of the size (device pixels) where
// PrintGeometry puts it; returns that rectangle.
PrintRect DrawPictureOnPage(QPainter& painter, QSize page, const QImage& picture);
// Writes the picture in the type to path; "" or why it failed.
std::string SavePictureFile(const PlanePicture& picture, const QString& path, PictureType type, int quality);
