// Expression tree nodes (see query_expr_node.h). Constant values are packed and unpacked here
// byte by byte, little-endian, so that every reader sees one layout whatever the host.
#include "dataset/sql/query_expr_node.h"

#include <bit>
#include <cstring>

#include "engine/field_types.h"

namespace quillon::sql {

namespace {

using engine::TFieldType;

std::string PackLe(std::uint64_t bits, int bytes) {
  std::string out(static_cast<std::size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

std::uint64_t UnpackLe(const std::string& value, std::size_t bytes) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < bytes && i < value.size(); ++i) {
    bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(value[i])) << (8 * i);
  }
  return bits;
}

constexpr int T(TFieldType t) {
  return static_cast<int>(t);
}

}  // namespace

TQueryExprNode::TQueryExprNode(int nodeClass, int oper, std::string name)
    : Name(std::move(name)), NodeClass(nodeClass), Operator(oper) {}

TQueryExprNode::~TQueryExprNode() {
  // Unlink the sibling chain one node at a time instead of recursing along it.
  std::unique_ptr<TQueryExprNode> next = std::move(Next);
  while (next) next = std::move(next->Next);
}

int TQueryExprNode::ChildCount() const {
  int n = 0;
  for (const TQueryExprNode* c = First.get(); c; c = c->Next.get()) ++n;
  return n;
}

void TQueryExprNode::SetNull() {
  DataType = kTypeNull;
  SubType = 0;
  Size = 0;
  Scale = 0;
  Value.clear();
  IsNull = true;
}

void TQueryExprNode::SetString(const std::string& text) {
  Value = text.substr(0, kMaxValueSize - 1);
  DataType = T(TFieldType::String);
  SubType = 0;
  Size = static_cast<int>(Value.size()) + 1;
  Scale = 0;
  IsNull = false;
}

void TQueryExprNode::SetBoolean(bool value) {
  Value = PackLe(value ? 0xFFFF : 0, 2);
  DataType = T(TFieldType::Boolean);
  SubType = 0;
  Size = 2;
  Scale = 0;
  IsNull = false;
}

void TQueryExprNode::SetInteger(std::int32_t value) {
  Value = PackLe(static_cast<std::uint32_t>(value), 4);
  DataType = T(TFieldType::Integer);
  SubType = 0;
  Size = 4;
  Scale = 0;
  IsNull = false;
}

void TQueryExprNode::SetFloat(double value) {
  Value = PackLe(std::bit_cast<std::uint64_t>(value), 8);
  DataType = T(TFieldType::Float);
  SubType = 0;
  Size = 8;
  Scale = 0;
  IsNull = false;
}

void TQueryExprNode::SetDate(std::int32_t dayNumber) {
  SetInteger(dayNumber);
  DataType = T(TFieldType::Date);
}

void TQueryExprNode::SetTime(std::int32_t milliseconds) {
  SetInteger(milliseconds);
  DataType = T(TFieldType::Time);
}

void TQueryExprNode::SetTimeStamp(double value) {
  SetFloat(value);
  DataType = T(TFieldType::TimeStamp);
}

std::int32_t TQueryExprNode::IntegerValue() const {
  if (Value.size() == 2) return static_cast<std::int16_t>(UnpackLe(Value, 2));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(UnpackLe(Value, 4)));
}

double TQueryExprNode::FloatValue() const {
  return std::bit_cast<double>(UnpackLe(Value, 8));
}

std::unique_ptr<TQueryExprNode> MakeNode(int nodeClass, int oper, const std::string& name) {
  return std::make_unique<TQueryExprNode>(nodeClass, oper, name);
}

std::string DescribeTree(const TQueryExprNode* node) {
  if (!node) return "<none>";
  switch (node->NodeClass) {
    case kNodeColumn:
      return node->CorrelationName.empty() ? node->ColumnName : node->CorrelationName + "." + node->ColumnName;
    case kNodeConstant:
      if (node->IsParameter) return "?";
      if (node->DataType == kTypeNull) return "NULL";
      if (node->DataType == T(TFieldType::String)) return "'" + node->Value + "'";
      return node->Name;
    default: {
      std::string out = "(" + node->Name;
      for (const TQueryExprNode* c = node->First.get(); c; c = c->Next.get()) out += " " + DescribeTree(c);
      return out + ")";
    }
  }
}

}  // namespace quillon::sql
