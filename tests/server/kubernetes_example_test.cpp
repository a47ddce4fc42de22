// The Kubernetes example of docs/server.md, parsed as YAML (libyaml):
// the DaemonSet runs on the labelled nodes with /readyz as its readiness probe, and the headless
// Service selects its pods on the server's port.
#include <gtest/gtest.h>
#include <yaml.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// A node of a loaded document; a missing key or index gives an empty node, whose text is "".
class Node {
  public:
    Node(yaml_document_t* document, yaml_node_t* node) : document_(document), node_(node) {}

    Node operator[](const std::string& key) const {
        if (node_ != nullptr && node_->type == YAML_MAPPING_NODE) {
            for (auto* pair = node_->data.mapping.pairs.start; pair < node_->data.mapping.pairs.top;
                 ++pair) {
                if (Node(document_, yaml_document_get_node(document_, pair->key)).text() == key) {
                    return {document_, yaml_document_get_node(document_, pair->value)};
                }
            }
        }
        return {document_, nullptr};
    }
    Node operator[](std::size_t index) const {
        if (node_ != nullptr && node_->type == YAML_SEQUENCE_NODE &&
            index < static_cast<std::size_t>(node_->data.sequence.items.top -
                                             node_->data.sequence.items.start)) {
            return {document_,
                    yaml_document_get_node(document_, node_->data.sequence.items.start[index])};
        }
        return {document_, nullptr};
    }
    std::string text() const {
        if (node_ == nullptr || node_->type != YAML_SCALAR_NODE) {
            return "";
        }
        return {reinterpret_cast<const char*>(node_->data.scalar.value), node_->data.scalar.length};
    }

  private:
    yaml_document_t* document_;
    yaml_node_t* node_;
};

// Every document of a YAML file, loaded; empty when it does not parse.
class YamlFile {
  public:
    explicit YamlFile(const char* path) {
        std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path, "rb"), &std::fclose);
        yaml_parser_t parser;
        if (!file || !yaml_parser_initialize(&parser)) {
            return;
        }
        yaml_parser_set_input_file(&parser, file.get());
        for (;;) {
            auto document = std::make_unique<yaml_document_t>();
            if (!yaml_parser_load(&parser, document.get())) {
                documents_.clear();
                break;
            }
            if (yaml_document_get_root_node(document.get()) == nullptr) {
                yaml_document_delete(document.get());
                break;
            }
            documents_.push_back(std::move(document));
        }
        yaml_parser_delete(&parser);
    }
    ~YamlFile() {
        for (auto& document : documents_) {
            yaml_document_delete(document.get());
        }
    }

    // The document whose `kind` is `kind`.
    Node kind(const std::string& kind) const {
        for (const auto& document : documents_) {
            Node root(document.get(), yaml_document_get_root_node(document.get()));
            if (root["kind"].text() == kind) {
                return root;
            }
        }
        return {nullptr, nullptr};
    }

  private:
    std::vector<std::unique_ptr<yaml_document_t>> documents_;
};

TEST(KubernetesExample, DaemonSetOnLabelledNodesBehindAHeadlessService) {
    YamlFile file(USB3K_SOURCE_DIR "/docs/kubernetes/usb3k-server.yaml");
    Node daemonSet = file.kind("DaemonSet");
    Node service = file.kind("Service");
    EXPECT_EQ(daemonSet["apiVersion"].text(), "apps/v1");
    EXPECT_EQ(service["apiVersion"].text(), "v1");

    Node pod = daemonSet["spec"]["template"];
    EXPECT_EQ(pod["spec"]["nodeSelector"]["usb3k.example.org/usb3000"].text(), "attached");
    const std::string name = "app.kubernetes.io/name";
    EXPECT_EQ(daemonSet["spec"]["selector"]["matchLabels"][name].text(), "usb3k-server");
    EXPECT_EQ(pod["metadata"]["labels"][name].text(), "usb3k-server");

    Node container = pod["spec"]["containers"][0];
    EXPECT_EQ(container["ports"][0]["name"].text(), "https");
    EXPECT_EQ(container["ports"][0]["containerPort"].text(), "8443");
    EXPECT_EQ(container["args"][0].text(), "--listen=0.0.0.0:8443");
    Node readiness = container["readinessProbe"]["httpGet"];
    EXPECT_EQ(readiness["path"].text(), "/readyz");
    EXPECT_EQ(readiness["port"].text(), "https");
    EXPECT_EQ(readiness["scheme"].text(), "HTTPS");
    EXPECT_EQ(container["livenessProbe"]["httpGet"]["path"].text(), "/healthz");

    EXPECT_EQ(service["spec"]["clusterIP"].text(), "None");
    EXPECT_EQ(service["spec"]["selector"][name].text(), "usb3k-server");
    EXPECT_EQ(service["spec"]["ports"][0]["port"].text(), "8443");
    EXPECT_EQ(service["spec"]["ports"][0]["targetPort"].text(), "https");
}

}  // namespace
