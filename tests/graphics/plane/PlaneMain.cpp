// The plane tests' main: the program's GL surface format, then a
// QApplication on the platform the Xvfb runner names (xcb).
#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char** argv) {
  QSurfaceFormat format;
  format.setVersion(2, 1);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setDepthBufferSize(24);
  format.setStencilBufferSize(8);
  format.setAlphaBufferSize(8);
  QSurfaceFormat::setDefaultFormat(format);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
