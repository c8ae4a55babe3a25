// The type checker of parsed statements and the seam through which it binds column names.
//
// TColumnResolver is implemented by whoever has the source tables open (the SQL executor over its
// data-file cursors; tests over fakes): given a source table of the statement and a column name,
// it reports the field's number, its name as stored, engine type code, subtype, size and scale.
//
// TTypeChecker binds every column node (correlation names matched without case, an unqualified
// name taken from the first source that has it), then gives every node its result type and size
// bottom-up, converting string constants met beside date, time and timestamp operands, and
// refusing operand types the dialect does not allow. A boolean column or function used directly
// as a condition is rewritten into a comparison with TRUE. Invariants after a successful check:
//   1. every column node except "*" has SourceIndex and FieldNumber set;
//   2. every node has DataType, SubType, Size and Scale set (string sizes count the zero byte);
//   3. every condition (operand of NOT, AND, OR, or a whole WHERE or ON part) is boolean.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/sql/query_expr_node.h"
#include "dataset/sql/sql_environment.h"

namespace quillon::sql {

struct TSourceDataFile;

struct TResolvedField {
  int FieldNumber = 0;  // 1-based
  std::string FieldName;
  int DataType = 0;  // engine type code
  int SubType = 0;
  int Size = 0;  // strings: characters + 1
  int Scale = 0;
};

class TColumnResolver {
 public:
  virtual ~TColumnResolver() = default;
  // The field called name (compared without case) of source; false when it has none.
  virtual bool FindField(const TSourceDataFile& source, const std::string& name, TResolvedField& field) const = 0;
};

class TTypeChecker {
 public:
  TTypeChecker(const std::vector<TSourceDataFile>& sources, const TColumnResolver& resolver,
               const TSqlEnvironment& environment);

  // Checks an expression in place; context names the place in messages. A "*" column (all
  // columns) is left unbound and untyped.
  void CheckExpression(std::unique_ptr<TQueryExprNode>& node, const char* context);
  // Checks a WHERE or ON part: as above, then it must be boolean.
  void CheckCondition(std::unique_ptr<TQueryExprNode>& node, const char* context);
  // Binds one column node.
  void BindColumn(TQueryExprNode& node, const char* context);

 private:
  void Check(std::unique_ptr<TQueryExprNode>& node, const char* context);
  void CheckBinary(TQueryExprNode& node, const char* context);
  void CheckExtended(TQueryExprNode& node, const char* context);
  void CheckFunction(TQueryExprNode& node, const char* context);
  void MakeCondition(std::unique_ptr<TQueryExprNode>& node);
  void ConvertDateConstant(TQueryExprNode& constant, int toType, const char* context);

  const std::vector<TSourceDataFile>& sources_;
  const TColumnResolver& resolver_;
  const TSqlEnvironment& environment_;
};

}  // namespace quillon::sql
