#include "xml/xml_endpoints.h"

#include <filesystem>

#include "text/error.h"
#include "text/stream.h"

namespace morvex {

TXmlDocument LoadXmlSource(const TXmlSource& source, bool forReading) {
  if (!source.Path.empty())
    return detail::LoadXmlFileStream(source.Stream, source.Path, forReading);
  return forReading ? LoadXmlStreamForReading(source.Stream) : LoadXmlStream(source.Stream);
}

TStream& TXmlStreamOutput::Open() {
  if (start_ < 0) start_ = stream_.Position();
  return stream_;
}

bool TXmlStreamOutput::CanRestart() {
  try {
    return stream_.Position() == stream_.Size();
  } catch (const EMorvexError&) {
    return false;
  }
}

void TXmlStreamOutput::Restart() {
  if (start_ < 0) return;
  stream_.SetSize(start_);
  stream_.SetPosition(start_);
}

TXmlFileOutput::TXmlFileOutput(std::string path) : path_(std::move(path)) {}

TXmlFileOutput::~TXmlFileOutput() {
  if (file_ && !closed_) {
    file_.reset();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
}

TStream& TXmlFileOutput::Open() {
  file_.reset();
  file_ = std::make_unique<TFileStream>(path_, TFileStream::Mode::Create);
  return *file_;
}

bool TXmlFileOutput::CanRestart() {
  std::error_code error;
  const auto status = std::filesystem::status(path_, error);
  return status.type() == std::filesystem::file_type::not_found ||
         (!error && status.type() == std::filesystem::file_type::regular);
}

void TXmlFileOutput::Close() {
  if (file_) file_->Close();
  closed_ = true;
}

}  // namespace morvex
