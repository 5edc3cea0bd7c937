#pragma once

// The engine's error numbers and German descriptions. The numbers follow the ones Jet 4.0 used
// for the same situations, so that code written against DAO recognises them.

#include <cstdint>
#include <string>

#include "ports/error.h"

namespace tarnu::engine {

namespace jet {
constexpr std::int32_t DivisionByZero = 11;
constexpr std::int32_t Reserved = 3000;
constexpr std::int32_t InvalidArgument = 3001;
constexpr std::int32_t TableExists = 3010;
constexpr std::int32_t ObjectNotFound = 3011;
constexpr std::int32_t DuplicateKey = 3022;
constexpr std::int32_t FileNotFound = 3024;
constexpr std::int32_t ReadOnly = 3027;
constexpr std::int32_t NotValidPassword = 3031;
constexpr std::int32_t NoTransaction = 3034;
constexpr std::int32_t DiskOrNetworkError = 3043;
constexpr std::int32_t InvalidPath = 3044;
constexpr std::int32_t FileInUse = 3045;
constexpr std::int32_t CorruptDatabase = 3049;
constexpr std::int32_t NoPermission = 3051;
constexpr std::int32_t TooFewParameters = 3061;
constexpr std::int32_t CannotExecuteSelect = 3065;
constexpr std::int32_t SyntaxErrorInExpression = 3075;
constexpr std::int32_t TableNotFound = 3078;
constexpr std::int32_t AggregateInWhere = 3096;
constexpr std::int32_t AggregateMix = 3122;
constexpr std::int32_t InvalidName = 3125;
constexpr std::int32_t UnknownInsertField = 3127;
constexpr std::int32_t InvalidSqlStatement = 3129;
constexpr std::int32_t SyntaxErrorFrom = 3131;
constexpr std::int32_t SyntaxErrorInsert = 3134;
constexpr std::int32_t SyntaxErrorSelect = 3141;
constexpr std::int32_t CharactersAfterEnd = 3142;
constexpr std::int32_t FieldTooSmall = 3163;
constexpr std::int32_t FieldDefinedTwice = 3191;
constexpr std::int32_t DatabaseExists = 3204;
constexpr std::int32_t Locked = 3218;
constexpr std::int32_t InvalidOperation = 3219;
constexpr std::int32_t ItemNotFound = 3265;
constexpr std::int32_t SyntaxErrorCreateTable = 3290;
constexpr std::int32_t SyntaxErrorDrop = 3295;
constexpr std::int32_t FieldRequired = 3314;
constexpr std::int32_t UnrecognizedFormat = 3343;
constexpr std::int32_t ValueCountMismatch = 3346;
constexpr std::int32_t NumericOverflow = 3349;
constexpr std::int32_t TableDoesNotExist = 3376;
constexpr std::int32_t ConversionError = 3421;
constexpr std::int32_t LinkedTableStatement = 3611;
}  // namespace jet

// The German description of an engine error; every '|' in it is replaced by detail.
std::string Describe(std::int32_t number, const std::string& detail = "");

// The engine's error of that number, its description filled with detail made printable.
tarnu::Error MakeError(std::int32_t number, const std::string& detail = "");

}  // namespace tarnu::engine
