#include "viewer/render/U_RenderWindow.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QMetaObject>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QPainter>
#include <QPlatformSurfaceEvent>
#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "viewer/render/RenderLog.h"
#include "viewer/render/YuvConvert.h"

namespace ospry {

namespace {

// Stretches the picture over the whole window: the quad covers the viewport,
// texture row 0 (the picture's top row) at the top.
const char* const kVertexShader = R"(
attribute highp vec2 position;
varying highp vec2 texCoord;
void main() {
  texCoord = vec2((position.x + 1.0) * 0.5, (1.0 - position.y) * 0.5);
  gl_Position = vec4(position, 0.0, 1.0);
}
)";

// The integer BT.601 formulas of the CPU path, in floating point.
const char* const kFragmentShader = R"(
uniform sampler2D lumaTex;
uniform sampler2D cbTex;
uniform sampler2D crTex;
varying highp vec2 texCoord;
void main() {
  highp float y = texture2D(lumaTex, texCoord).r * 255.0 - 16.0;
  highp float u = texture2D(cbTex, texCoord).r * 255.0 - 128.0;
  highp float v = texture2D(crTex, texCoord).r * 255.0 - 128.0;
  highp vec3 rgb = vec3(298.0 * y + 409.0 * v + 128.0,
                        298.0 * y - 100.0 * u - 208.0 * v + 128.0,
                        298.0 * y + 516.0 * u + 128.0) / (256.0 * 255.0);
  gl_FragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
)";

const GLfloat kQuad[] = {-1.f, -1.f, 1.f, -1.f, -1.f, 1.f, 1.f, 1.f};

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
// guarded by RegistryLock()
std::unordered_map<TWindowHandle, std::shared_ptr<TRenderTarget>>& Registry() {
  static std::unordered_map<TWindowHandle, std::shared_ptr<TRenderTarget>> map;
  return map;
}
TWindowHandle nextHandle = 1;  // guarded by RegistryLock()

}  // namespace

// ---------------------------------------------------------------------------

std::shared_ptr<TRenderTarget> TRenderWindowRegistry::Find(TWindowHandle handle) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Registry().find(handle);
  return it == Registry().end() ? nullptr : it->second;
}

std::shared_ptr<TRenderTarget> TRenderWindowRegistry::Add(bool openGlCapable) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto target = std::make_shared<TRenderTarget>(nextHandle++, openGlCapable);
  Registry().emplace(target->Handle(), target);
  return target;
}

void TRenderWindowRegistry::Remove(TWindowHandle handle) {
  std::shared_ptr<TRenderTarget> removed;  // released after the lock
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto it = Registry().find(handle);
  if (it != Registry().end()) {
    removed = std::move(it->second);
    Registry().erase(it);
  }
}

bool OpenGlAvailable() {
  static int available = -1;  // main thread only
  if (available < 0) {
    available = 0;
    const QString platform = QGuiApplication::platformName();
    // The offscreen and minimal platforms have no windows OpenGL could draw
    // into (making contexts there may even succeed or crash depending on the
    // display), so they always take the backing store.
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
      QOpenGLContext probe;
      QOffscreenSurface surface;
      surface.create();
      if (probe.create() && probe.makeCurrent(&surface)) {
        probe.doneCurrent();
        available = 1;
      }
    }
  }
  return available == 1;
}

// ---------------------------------------------------------------------------

bool TRenderTarget::Submit(TRenderPicture& picture) {
  TRenderWindow* direct = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!window_) return false;
    std::swap(pending_, picture);
    hasPending_ = true;
    if (QThread::currentThread() == window_->thread()) {
      direct = window_;
    } else if (!wakePending_) {
      wakePending_ = true;
      window_->Wake();
    }
  }
  // On the main thread the window cannot go away between the unlock and here.
  if (direct) direct->PresentPending();
  return true;
}

void TRenderTarget::RequestRepaint() {
  TRenderWindow* direct = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!window_) return;
    if (QThread::currentThread() == window_->thread()) {
      direct = window_;
    } else {
      repaintRequested_ = true;
      if (!wakePending_) {
        wakePending_ = true;
        window_->Wake();
      }
    }
  }
  if (direct) direct->PresentCurrent();
}

bool TRenderTarget::TakePending(TRenderPicture& current, bool& repaintRequested) {
  std::lock_guard<std::mutex> guard(lock_);
  wakePending_ = false;
  repaintRequested = repaintRequested_;
  repaintRequested_ = false;
  if (!hasPending_) return false;
  std::swap(pending_, current);
  hasPending_ = false;
  return true;
}

void TRenderTarget::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  window_ = nullptr;
  hasPending_ = false;
}

// ---------------------------------------------------------------------------

TRenderWindow::TRenderWindow(QWindow* parent, bool preferOpenGl) : QWindow(parent) {
  // Drawing threads wake the main thread through this counter; a notifier
  // on the main thread's event loop does the presenting. (A write and a read
  // of the descriptor are all that cross threads: no objects are allocated
  // per picture, and the hand-over is visible to thread checkers.)
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ >= 0) {
    wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, this,
                     [this] { OnWake(); });
  }
  const bool openGl = preferOpenGl && OpenGlAvailable();
  if (openGl) {
    setSurfaceType(QSurface::OpenGLSurface);
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapInterval(0);  // never wait for the vertical retrace
    setFormat(format);
  } else {
    setSurfaceType(QSurface::RasterSurface);
  }
  target_ = TRenderWindowRegistry::Add(openGl);
  handle_ = target_->Handle();
  std::lock_guard<std::mutex> guard(target_->lock_);
  target_->window_ = this;
}

TRenderWindow::~TRenderWindow() {
  target_->Detach();  // no drawing thread writes to wakeFd_ after this
  TRenderWindowRegistry::Remove(handle_);
  ReleaseOpenGl();
  backingStore_.reset();
  wakeNotifier_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TRenderWindow::Wake() {
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    // Cannot fail short of a counter overflow; a failed wake leaves the
    // picture for the next one.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  } else {
    // Without a descriptor, fall back to a queued call. Called under the
    // target's lock, so the window is alive; Qt drops the call if the window
    // is destroyed before it runs.
    QMetaObject::invokeMethod(this, [this] { OnWake(); }, Qt::QueuedConnection);
  }
}

void TRenderWindow::OnWake() {
  if (wakeFd_ >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
  }
  bool repaintRequested = false;
  const bool taken = target_->TakePending(current_, repaintRequested);
  if (taken) texturesHoldCurrent_ = false;
  if (taken || repaintRequested) PresentCurrent();
}

void TRenderWindow::exposeEvent(QExposeEvent*) {
  if (!isExposed()) return;
  PresentCurrent();
  if (repaintHandler_) repaintHandler_();
}

void TRenderWindow::resizeEvent(QResizeEvent*) {
  if (isExposed()) requestUpdate();
}

bool TRenderWindow::event(QEvent* event) {
  if (event->type() == QEvent::UpdateRequest) {
    PresentCurrent();
    if (repaintHandler_) repaintHandler_();
    return true;
  }
  if (event->type() == QEvent::PlatformSurface &&
      static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
          QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed) {
    ReleaseOpenGl();
    backingStore_.reset();
  }
  return QWindow::event(event);
}

void TRenderWindow::PresentPending() {
  bool repaintRequested = false;
  if (target_->TakePending(current_, repaintRequested)) {
    texturesHoldCurrent_ = false;
    PresentCurrent();
  }
}

void TRenderWindow::PresentCurrent() {
  if (current_.kind == TRenderPicture::TKind::None || !isExposed()) return;
  if (current_.kind == TRenderPicture::TKind::Yv12 && target_->AcceptsYv12() && PresentOpenGl())
    return;
  PresentRaster();
}

bool TRenderWindow::InitOpenGl() {
  if (!context_) {
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(requestedFormat());
    if (!context_->create()) {
      FailOpenGl("TYUVRender.InitOpenGL: Failed at create context", -1, 2);
      return false;
    }
  }
  if (!context_->makeCurrent(this)) {
    FailOpenGl("TYUVRender.InitOpenGL: Failed at make context current", -1, 2);
    return false;
  }
  if (!program_) {
    program_ = std::make_unique<QOpenGLShaderProgram>();
    if (!program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) ||
        (program_->bindAttributeLocation("position", 0), !program_->link())) {
      FailOpenGl("TYUVRender.InitOpenGL: Failed at compile shaders", -1, 2);
      return false;
    }
    const QSurfaceFormat actual = context_->format();
    lumaFormatRed_ = !context_->isOpenGLES() && actual.profile() == QSurfaceFormat::CoreProfile;
    QOpenGLFunctions* gl = context_->functions();
    gl->glGenTextures(3, textures_);
    textureWidth_ = textureHeight_ = 0;
  }
  return true;
}

bool TRenderWindow::PresentOpenGl() {
  if (!InitOpenGl()) return false;
  QOpenGLFunctions* gl = context_->functions();
  const GLenum format = lumaFormatRed_ ? 0x1903 /* GL_RED */ : GL_LUMINANCE;
  const int width = current_.width, height = current_.height;
  const int planeWidth[3] = {width, width / 2, width / 2};
  const int planeHeight[3] = {height, height / 2, height / 2};

  if (width != textureWidth_ || height != textureHeight_) {
    for (int i = 0; i < 3; ++i) {
      gl->glBindTexture(GL_TEXTURE_2D, textures_[i]);
      gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
      gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
      gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      gl->glTexImage2D(GL_TEXTURE_2D, 0, format, planeWidth[i], planeHeight[i], 0, format,
                       GL_UNSIGNED_BYTE, nullptr);
    }
    if (const GLenum error = gl->glGetError(); error != GL_NO_ERROR) {
      FailOpenGl("TYUVRender.InitOpenGL: Failed at create textures", static_cast<int>(error), 2);
      return false;
    }
    textureWidth_ = width;
    textureHeight_ = height;
    texturesHoldCurrent_ = false;
    ++stats_.surfaceBuilds;
    render::LogDebug("TYUVRender.InitOpenGL: Great Success!", 2);
  }

  if (injectFailure_) {
    injectFailure_ = false;
    FailOpenGl("TYUVRender.DrawFrame: Problem in texture upload", GL_INVALID_OPERATION, 0);
    return false;
  }
  if (!texturesHoldCurrent_) {
    // Packed YV12: luma, then Cr, then Cb; textures_ are luma, Cb, Cr.
    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    const std::size_t chromaSize = static_cast<std::size_t>(width / 2) * (height / 2);
    const std::uint8_t* planes[3] = {current_.bytes.data(),
                                     current_.bytes.data() + lumaSize + chromaSize,
                                     current_.bytes.data() + lumaSize};
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
      gl->glBindTexture(GL_TEXTURE_2D, textures_[i]);
      gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, planeWidth[i], planeHeight[i], format,
                          GL_UNSIGNED_BYTE, planes[i]);
    }
    if (const GLenum error = gl->glGetError(); error != GL_NO_ERROR) {
      FailOpenGl("TYUVRender.DrawFrame: Problem in texture upload", static_cast<int>(error), 0);
      return false;
    }
    texturesHoldCurrent_ = true;
  }

  const qreal ratio = devicePixelRatio();
  gl->glViewport(0, 0, static_cast<GLsizei>(this->width() * ratio),
                 static_cast<GLsizei>(this->height() * ratio));
  program_->bind();
  static const char* const kSamplers[3] = {"lumaTex", "cbTex", "crTex"};
  for (int i = 0; i < 3; ++i) {
    gl->glActiveTexture(GL_TEXTURE0 + i);
    gl->glBindTexture(GL_TEXTURE_2D, textures_[i]);
    program_->setUniformValue(kSamplers[i], i);
  }
  gl->glActiveTexture(GL_TEXTURE0);
  program_->enableAttributeArray(0);
  program_->setAttributeArray(0, GL_FLOAT, kQuad, 2);
  gl->glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  program_->disableAttributeArray(0);
  program_->release();
  if (const GLenum error = gl->glGetError(); error != GL_NO_ERROR) {
    FailOpenGl("TYUVRender.DrawFrame: Problem in draw", static_cast<int>(error), 0);
    return false;
  }
  context_->swapBuffers(this);
  ++stats_.openGlPresents;
  return true;
}

void TRenderWindow::FailOpenGl(const char* message, int code, int level) {
  target_->MarkOpenGlFailed();
  ReleaseOpenGl();
  render::LogDebug(std::string(message) + " " + std::to_string(code), level);
}

void TRenderWindow::ReleaseOpenGl() {
  if (!context_) return;
  if (context_->makeCurrent(this)) {
    if (program_) context_->functions()->glDeleteTextures(3, textures_);
    program_.reset();
    context_->doneCurrent();
  } else {
    program_.reset();
  }
  textures_[0] = textures_[1] = textures_[2] = 0;
  textureWidth_ = textureHeight_ = 0;
  texturesHoldCurrent_ = false;
  context_.reset();
}

void TRenderWindow::PresentRaster() {
  const QSize windowSize = size();
  if (windowSize.isEmpty()) return;
  const int width = current_.width & ~1, height = current_.height & ~1;
  if (width <= 0 || height <= 0) return;
  const std::uint32_t* pixels = nullptr;
  if (current_.kind == TRenderPicture::TKind::Rgb32) {
    pixels = reinterpret_cast<const std::uint32_t*>(current_.bytes.data());
  } else {
    rgbScratch_.resize(static_cast<std::size_t>(width) * height);
    ConvertYuvToRgb32(PackedYv12Planes(current_.bytes.data(), current_.width, current_.height),
                      current_.width, current_.height, rgbScratch_.data(), width * 4);
    pixels = rgbScratch_.data();
  }
  const QImage image(reinterpret_cast<const uchar*>(pixels), width, height, width * 4,
                     QImage::Format_RGB32);
  if (!backingStore_) backingStore_ = std::make_unique<QBackingStore>(this);
  backingStore_->resize(windowSize);
  const QRect area(QPoint(0, 0), windowSize);
  backingStore_->beginPaint(area);
  {
    QPainter painter(backingStore_->paintDevice());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area, image);
  }
  backingStore_->endPaint();
  backingStore_->flush(area);
  ++stats_.rasterPresents;
}

}  // namespace ospry
