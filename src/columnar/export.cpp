#include "columnar/export.h"

#include <cerrno>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace varkel::columnar {

namespace {

// --------------------------------------------------------------------------
// Schemas

struct SchemaPrivate {
  std::string format;
  std::string name;
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema*> child_pointers;
  ArrowSchema dictionary{};
};

void release_schema(ArrowSchema* schema) {
  if (schema == nullptr || schema->release == nullptr) return;
  auto* own = static_cast<SchemaPrivate*>(schema->private_data);
  for (ArrowSchema& child : own->children) {
    if (child.release != nullptr) child.release(&child);
  }
  if (own->dictionary.release != nullptr) own->dictionary.release(&own->dictionary);
  delete own;
  schema->release = nullptr;
}

void fill_schema(const ArrayData& data, ArrowSchema* out) {
  auto own = std::make_unique<SchemaPrivate>();
  own->format = data.format;
  own->name = data.name;
  // Children are exported one by one; should one fail, those done so far are
  // released with `own`'s partial state.
  struct Undo {
    SchemaPrivate* own;
    std::size_t done = 0;
    ~Undo() {
      if (own == nullptr) return;
      for (std::size_t i = 0; i < done; ++i) release_schema(&own->children[i]);
      release_schema(&own->dictionary);
    }
  } undo{own.get()};
  own->children.resize(data.children.size());
  own->child_pointers.resize(data.children.size());
  for (std::size_t i = 0; i < data.children.size(); ++i) {
    fill_schema(data.children[i], &own->children[i]);
    own->child_pointers[i] = &own->children[i];
    undo.done = i + 1;
  }
  if (data.dictionary) fill_schema(*data.dictionary, &own->dictionary);
  undo.own = nullptr;

  out->format = own->format.c_str();
  out->name = own->name.c_str();
  out->metadata = nullptr;
  out->flags = data.flags;
  out->n_children = static_cast<std::int64_t>(own->children.size());
  out->children = own->child_pointers.empty() ? nullptr : own->child_pointers.data();
  out->dictionary = data.dictionary ? &own->dictionary : nullptr;
  out->release = release_schema;
  out->private_data = own.release();
}

// --------------------------------------------------------------------------
// Arrays

struct ArrayPrivate {
  std::shared_ptr<const void> owner;  // keeps the buffers alive
  std::vector<const void*> buffers;
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> child_pointers;
  ArrowArray dictionary{};
};

void release_array(ArrowArray* array) {
  if (array == nullptr || array->release == nullptr) return;
  auto* own = static_cast<ArrayPrivate*>(array->private_data);
  for (ArrowArray& child : own->children) {
    if (child.release != nullptr) child.release(&child);
  }
  if (own->dictionary.release != nullptr) own->dictionary.release(&own->dictionary);
  delete own;
  array->release = nullptr;
}

void fill_array(const std::shared_ptr<const void>& owner, const ArrayData& data, ArrowArray* out) {
  auto own = std::make_unique<ArrayPrivate>();
  own->owner = owner;
  own->buffers.reserve(data.buffers.size());
  for (std::size_t i = 0; i < data.buffers.size(); ++i) {
    const bool absent_validity = i == 0 && data.format != "n" && data.null_count == 0;
    own->buffers.push_back(absent_validity ? nullptr : data.buffers[i].data());
  }
  struct Undo {
    ArrayPrivate* own;
    std::size_t done = 0;
    ~Undo() {
      if (own == nullptr) return;
      for (std::size_t i = 0; i < done; ++i) release_array(&own->children[i]);
      release_array(&own->dictionary);
    }
  } undo{own.get()};
  own->children.resize(data.children.size());
  own->child_pointers.resize(data.children.size());
  for (std::size_t i = 0; i < data.children.size(); ++i) {
    fill_array(owner, data.children[i], &own->children[i]);
    own->child_pointers[i] = &own->children[i];
    undo.done = i + 1;
  }
  if (data.dictionary) fill_array(owner, *data.dictionary, &own->dictionary);
  undo.own = nullptr;

  out->length = data.length;
  out->null_count = data.null_count;
  out->offset = 0;
  out->n_buffers = static_cast<std::int64_t>(own->buffers.size());
  out->n_children = static_cast<std::int64_t>(own->children.size());
  out->buffers = own->buffers.empty() ? nullptr : own->buffers.data();
  out->children = own->child_pointers.empty() ? nullptr : own->child_pointers.data();
  out->dictionary = data.dictionary ? &own->dictionary : nullptr;
  out->release = release_array;
  out->private_data = own.release();
}

// --------------------------------------------------------------------------
// Streams

struct StreamPrivate {
  std::shared_ptr<const Table> table;
  bool done = false;
  std::string last_error;
};

// Runs `body`; a C++ exception becomes an errno value and the stream's last
// error, as the callbacks may not throw.
template <class Body>
int report(ArrowArrayStream* stream, Body body) noexcept {
  auto* own = static_cast<StreamPrivate*>(stream->private_data);
  try {
    body(*own);
    return 0;
  } catch (const std::bad_alloc&) {
    own->last_error = "out of memory";
    return ENOMEM;
  } catch (const std::exception& error) {
    try {
      own->last_error = error.what();
    } catch (...) {
    }
    return EINVAL;
  }
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  return report(stream, [&](StreamPrivate& own) { fill_schema(own.table->batch, out); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  return report(stream, [&](StreamPrivate& own) {
    if (own.done) {
      out->release = nullptr;  // the end of the stream
      return;
    }
    fill_array(own.table, own.table->batch, out);
    own.done = true;
  });
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
  auto* own = static_cast<StreamPrivate*>(stream->private_data);
  return own->last_error.empty() ? nullptr : own->last_error.c_str();
}

void release_stream(ArrowArrayStream* stream) {
  if (stream == nullptr || stream->release == nullptr) return;
  delete static_cast<StreamPrivate*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

void export_schema(const ArrayData& data, ArrowSchema* out) {
  fill_schema(data, out);
}

void export_array(std::shared_ptr<const void> owner, const ArrayData& data, ArrowArray* out) {
  fill_array(owner, data, out);
}

void export_stream(std::shared_ptr<const Table> table, ArrowArrayStream* out) {
  auto own = std::make_unique<StreamPrivate>();
  own->table = std::move(table);
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_get_last_error;
  out->release = release_stream;
  out->private_data = own.release();
}

}  // namespace varkel::columnar
