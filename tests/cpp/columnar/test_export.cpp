// Export through the Arrow C data interface: what the structs say, and the
// release rules (children moved out and released alone, releases from other
// threads, the table kept alive by every export).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "columnar/export.h"

namespace varkel::columnar {
namespace {

// A table of two rows: x uint8 [7, 9] and s utf8 ["a", null].
std::shared_ptr<const Table> sample() {
  auto table = std::make_shared<Table>();
  table->name = "E";
  ArrayData& batch = table->batch;
  batch.format = "+s";
  batch.length = 2;
  batch.buffers.emplace_back();
  ArrayData x;
  x.format = "C";
  x.name = "x";
  x.length = 2;
  x.buffers.emplace_back();
  x.buffers.emplace_back().push<std::uint8_t>(7);
  x.buffers[1].push<std::uint8_t>(9);
  ArrayData s;
  s.format = "u";
  s.name = "s";
  s.flags = ARROW_FLAG_NULLABLE;
  s.length = 2;
  s.null_count = 1;
  s.buffers.emplace_back().push<std::uint8_t>(0b01);
  s.buffers.emplace_back();
  for (std::int32_t offset : {0, 1, 1}) s.buffers[1].push(offset);
  s.buffers.emplace_back().append("a", 1);
  batch.children.push_back(std::move(x));
  batch.children.push_back(std::move(s));
  return table;
}

TEST(ArrowExport, SchemaDescribesTheTree) {
  const auto table = sample();
  OwnedSchema schema;
  export_schema(table->batch, schema.get());
  EXPECT_STREQ(schema->format, "+s");
  ASSERT_EQ(schema->n_children, 2);
  EXPECT_STREQ(schema->children[0]->format, "C");
  EXPECT_STREQ(schema->children[0]->name, "x");
  EXPECT_EQ(schema->children[0]->flags, 0);
  EXPECT_STREQ(schema->children[1]->name, "s");
  EXPECT_EQ(schema->children[1]->flags, ARROW_FLAG_NULLABLE);
  EXPECT_EQ(schema->dictionary, nullptr);
  schema.reset();
  EXPECT_TRUE(schema.released());
}

TEST(ArrowExport, ArraySharesTheBuffersAndOmitsAnEmptyValidity) {
  const auto table = sample();
  OwnedArray array;
  export_array(table, table->batch, array.get());
  EXPECT_EQ(array->length, 2);
  ASSERT_EQ(array->n_children, 2);
  const ArrowArray* x = array->children[0];
  EXPECT_EQ(x->null_count, 0);
  EXPECT_EQ(x->buffers[0], nullptr);  // no nulls: no bitmap
  EXPECT_EQ(x->buffers[1], table->batch.children[0].buffers[1].data());
  const ArrowArray* s = array->children[1];
  EXPECT_EQ(s->null_count, 1);
  EXPECT_NE(s->buffers[0], nullptr);
  EXPECT_EQ(static_cast<const char*>(s->buffers[2])[0], 'a');
}

TEST(ArrowExport, ChildMovedOutOutlivesItsParentAndTheTable) {
  auto table = sample();
  const std::uint8_t* data = table->batch.children[0].buffers[1].data();
  OwnedArray parent;
  export_array(table, table->batch, parent.get());
  std::weak_ptr<const Table> watch = table;
  table.reset();
  OwnedArray child;
  *child.get() = *parent->children[0];  // the consumer moves the child out
  parent->children[0]->release = nullptr;
  parent.reset();
  ASSERT_FALSE(watch.expired());  // the child still holds the table
  EXPECT_EQ(static_cast<const std::uint8_t*>(child->buffers[1]), data);
  EXPECT_EQ(data[1], 9);
  std::thread([&] { child.reset(); }).join();  // released on another thread
  EXPECT_TRUE(watch.expired());
}

TEST(ArrowExport, StreamGivesOneBatchThenTheEnd) {
  auto table = sample();
  std::weak_ptr<const Table> watch = table;
  OwnedStream stream;
  export_stream(std::move(table), stream.get());
  OwnedSchema schema;
  ASSERT_EQ(stream->get_schema(stream.get(), schema.get()), 0);
  EXPECT_EQ(schema->n_children, 2);
  OwnedArray first;
  ASSERT_EQ(stream->get_next(stream.get(), first.get()), 0);
  EXPECT_EQ(first->length, 2);
  ArrowArray end{};
  end.release = reinterpret_cast<void (*)(ArrowArray*)>(1);  // must be cleared
  ASSERT_EQ(stream->get_next(stream.get(), &end), 0);
  EXPECT_EQ(end.release, nullptr);
  EXPECT_EQ(stream->get_last_error(stream.get()), nullptr);
  stream.reset();
  EXPECT_FALSE(watch.expired());  // the batch still holds it
  first.reset();
  EXPECT_TRUE(watch.expired());
}

TEST(ArrowExport, ManyExportsReleasedOnManyThreads) {
  auto table = sample();
  std::weak_ptr<const Table> watch = table;
  std::vector<OwnedArray> arrays(64);
  for (OwnedArray& array : arrays) export_array(table, table->batch, array.get());
  table.reset();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = static_cast<std::size_t>(t); i < arrays.size(); i += 4) arrays[i].reset();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(watch.expired());
}

TEST(ArrowExport, DictionaryTravelsWithItsArray) {
  auto table = std::make_shared<Table>();
  ArrayData& column = table->batch;
  column.format = "s";
  column.length = 1;
  column.buffers.emplace_back();
  column.buffers.emplace_back().push<std::int16_t>(1);
  column.dictionary = std::make_unique<ArrayData>();
  column.dictionary->format = "u";
  column.dictionary->length = 2;
  column.dictionary->buffers.emplace_back();
  column.dictionary->buffers.emplace_back();
  for (std::int32_t offset : {0, 3, 7}) column.dictionary->buffers[1].push(offset);
  column.dictionary->buffers.emplace_back().append("BuySell", 7);
  OwnedSchema schema;
  export_schema(column, schema.get());
  ASSERT_NE(schema->dictionary, nullptr);
  EXPECT_STREQ(schema->dictionary->format, "u");
  OwnedArray array;
  export_array(table, column, array.get());
  ASSERT_NE(array->dictionary, nullptr);
  EXPECT_EQ(array->dictionary->length, 2);
  EXPECT_EQ(std::memcmp(array->dictionary->buffers[2], "BuySell", 7), 0);
}

}  // namespace
}  // namespace varkel::columnar
