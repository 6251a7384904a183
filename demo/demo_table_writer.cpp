#include "demo/demo_table_writer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "engine/table_definition.h"
#include "platform/native_io.h"

namespace dalimor {
namespace {

// Characters of a UTF-8 text; each is one byte in code page 1250.
size_t CodePointCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

DemoTableWriter::DemoTableWriter(const std::string& base_folder, const DemoTableDef& def,
                                 int block_size)
    : def_(def), fields_(DemoFields(def)) {
  const std::filesystem::path folder = PathFromUtf8(base_folder) / PathFromUtf8(def.folder);
  std::filesystem::create_directories(folder);
  CreateOptions options;
  options.block_size = block_size > 0 ? block_size : def.block_size;
  table_ = ParadoxTable::Create(Utf8FromPath(folder / PathFromUtf8(def.file_name)), fields_,
                                LeadingKeyFieldCount(fields_, def.key), options);
  table_->set_auto_flush(false);
  for (size_t i = 0; i < fields_.size(); ++i) index_.emplace(fields_[i].name, i);
}

size_t DemoTableWriter::Index(std::string_view name) const {
  const auto it = index_.find(name);
  if (it == index_.end())
    throw std::logic_error(std::string(def_.file_name) + " has no field " + std::string(name));
  return it->second;
}

void DemoTableWriter::Insert(const Record& row) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].type != FieldType::kAlpha) continue;
    const auto* text = std::get_if<std::string>(&row[i]);
    if (text && CodePointCount(*text) > static_cast<size_t>(fields_[i].size))
      throw std::logic_error(std::string(def_.file_name) + "." + fields_[i].name +
                             ": text too long: " + *text);
  }
  table_->Insert(row);
}

void DemoTableWriter::Finish() {
  table_->Flush();
  // The indexes are added once the rows are in, as a company's tables get
  // them, each laid out in one pass.
  for (const SecondaryIndexDef& index : ParseIndexList(def_.indexes))
    table_->AddSecondaryIndex(index);
  table_->Close();
}

Value DemoText(std::string_view text) {
  if (text.empty()) return {};
  return std::string(text);
}

double RoundToHellers(double amount) {
  return std::round(amount * 100.0) / 100.0;
}

}  // namespace dalimor
