#include <kelvra/kernel/resources.h>

#include <vector>

namespace kelvra::platform {

namespace {
std::vector<ResourceFile>& registry()
{
    static std::vector<ResourceFile> files;
    return files;
}
}  // namespace

bool registerModuleResources(const ResourceFile* files, size_t count)
{
    registry().insert(registry().end(), files, files + count);
    return true;
}

const ResourceFile* findResourceFile(const std::string& name)
{
    for (const ResourceFile& f : registry())
        if (name == f.name)
            return &f;
    return nullptr;
}

}  // namespace kelvra::platform
