// The upload of stored sessions: one POST of "beacons=" and a JSON document to the collection
// server; the answer "success" and nothing else deletes what was sent.
#include <algorithm>
#include <cstdio>

#include "Beacon.h"
#include "BeaconContainment.h"
#include "Classes/Reachability.h"
#include "Classes/Utils/Database/BeaconDatabase.h"
#include "CollectionServer.h"
#include "FormEncoding.h"
#include "JSONUtils.h"
#include "platform/UIDevice.h"
#include "platform/Log.h"
#include "platform/NSBundle.h"

namespace {
constexpr double kAsynchronousTimeout = 10.0;
constexpr double kSynchronousTimeout = 5.0;
// Less time than this left before the exit deadline: not even a loopback exchange fits.
constexpr double kShortestExchange = 0.05;

void appendHeaderField(std::string& out, const char* name, const std::string& value) {
  out += '"';
  out += name;
  out += "\":";
  // Escaped like any JSON text, so a quote or backslash in a device fact cannot break the document.
  JSONUtils::appendString(out, value);
}
// The encoder copies control characters other than its escapes as they are, which no JSON parser
// accepts: one such sub-beacon name would block every later upload. Outside strings the document
// has none, so each one left is inside a string and becomes its \u escape.
std::string escapeControlCharacters(const std::string& document) {
  if (std::none_of(document.begin(), document.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return document;
  }
  std::string out;
  out.reserve(document.size() + 16);
  for (const char c : document) {
    if (static_cast<unsigned char>(c) >= 0x20) {
      out += c;
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += escape;
  }
  return out;
}
}  // namespace

std::string Beacon::uploadDocument(const JSONArray& records) const {
  UIDevice& device = UIDevice::currentDevice();
  std::string model = device.model();
  if (model.find("iPhone Simulator") == std::string::npos) {
    // The platform's model name stays when the machine identifier cannot be read.
    if (auto machine = deviceModel()) model = *machine;
  }
  const std::string version = NSBundle::mainBundle().infoValue("CFBundleVersion").value_or("");

  std::string document = "{";
  appendHeaderField(document, "iphone_id", device.uniqueIdentifier());
  document += ',';
  appendHeaderField(document, "device_model", model);
  document += ',';
  appendHeaderField(document, "device_os", device.systemVersion());
  document += ',';
  appendHeaderField(document, "application_code", applicationCode);
  document += ',';
  appendHeaderField(document, "app_version", version);
  document += ",\"beacons\":[";
  for (size_t i = 0; i < records.size(); ++i) {
    if (i > 0) document += ',';
    JSONUtils::appendValue(document, records[i], 0);
  }
  document += "]}";
  // A name stored with bytes that are not UTF-8 would make the whole document invalid JSON, and a
  // strict server would refuse every upload from then on; the store keeps the bytes as they are.
  return withValidUtf8(escapeControlCharacters(document));
}

void Beacon::attemptToSendBeaconsAsync(bool asynchronous) {
  if (uploading || !store_) return;
  try {
    sendBeacons(asynchronous);
  } catch (...) {
    // Out of memory or the like: this attempt is dropped, the sessions stay for the next one.
    uploading = false;
    if (connection) connection->cancel();
    connection.reset();
    NSLog("Upload of usage sessions skipped: %s", describeCurrentException().c_str());
  }
}

void Beacon::sendBeacons(bool asynchronous) {
  NetworkStatus status = NetworkStatusNotReachable;
  try {
    TH_Reachability& reachability = TH_Reachability::sharedReachability();
    reachability.setHostName(CollectionServer::hostName());
    status = reachability.internetConnectionStatus();
  } catch (...) {
    return;  // the network cannot be judged: no attempt, as for no network
  }
  if (useWiFi && status != NetworkStatusWiFi) return;
  if (status == NetworkStatusNotReachable) return;
  double timeout = asynchronous ? kAsynchronousTimeout : kSynchronousTimeout;
  if (!asynchronous && exitDeadline_) {
    timeout = std::min(timeout, std::chrono::duration<double>(*exitDeadline_ - std::chrono::steady_clock::now()).count());
    if (timeout < kShortestExchange) return;
  }

  // The lock of the registered controller, which is this one unless it was released.
  std::lock_guard lock(lock_);
  JSONArray records;
  if (!contain([&](BeaconDatabase& store) {
        records = store.getBeaconsToSendWithBeaconRunning(beaconStarted, kMaximumBeaconsPerUpload);
      })) {
    return;
  }
  if (records.empty()) return;
  // The open session goes as it is now and stays: its end and later sub-sessions are still to come.
  carried_ = beaconStarted ? std::vector<BeaconDatabase::SentBeacon>{} : BeaconDatabase::sentBeacons(records);

  NSMutableURLRequest request(CollectionServer::url());
  request.setHTTPMethod("POST");
  // Form-encoded, so "&", "+", "%" and non-ASCII text in a name reach a form-decoding server intact.
  request.setHTTPBody("beacons=" + formEncode(uploadDocument(records)));
  request.setMaximumResponseLength(kMaximumAnswerLength);
  request.setTimeoutInterval(timeout);
  uploading = true;

  if (asynchronous) {
    connection = NSURLConnection::initWithRequest(request, this);
    if (!receivedData) {
      receivedData.emplace();
    } else {
      receivedData->clear();
    }
  } else {
    const std::optional<std::string> body = NSURLConnection::sendSynchronousRequest(request, nullptr);
    uploading = false;
    examineResponse(body);
  }
}

void Beacon::examineResponse(const std::optional<std::string>& body) {
  // Only what this upload carried: rows ended or added since (by this run or another process
  // sharing the file) have not been sent.
  const std::vector<BeaconDatabase::SentBeacon> sent = std::move(carried_);
  carried_.clear();
  if (!body || *body != "success") return;
  contain([&](BeaconDatabase& store) { store.deleteSentBeacons(sent); });
}

void Beacon::limitExitWait(double seconds) {
  exitDeadline_ = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

void Beacon::connectionDidReceiveResponse(NSURLConnection* /*connection*/, const NSURLResponse& /*response*/) {
  std::lock_guard lock(lock_);
  if (receivedData) {
    receivedData->clear();
  } else {
    receivedData.emplace();
  }
}

void Beacon::connectionDidReceiveData(NSURLConnection* /*connection*/, const std::string& data) {
  std::lock_guard lock(lock_);
  if (!receivedData) receivedData.emplace();
  receivedData->append(data);
}

void Beacon::connectionDidFailWithError(NSURLConnection* /*connection*/, const NSError& /*error*/) {
  std::lock_guard lock(lock_);
  uploading = false;
  connection.reset();
  carried_.clear();
}

void Beacon::connectionDidFinishLoading(NSURLConnection* /*connection*/) {
  std::lock_guard lock(lock_);
  uploading = false;
  connection.reset();
  examineResponse(receivedData);
}
